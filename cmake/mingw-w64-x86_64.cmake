# Cross build for 64-bit Windows with Debian's mingw-w64 (posix threads):
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# Qt for Windows is not part of Debian, so only what needs no Qt is built.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TESSOL_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TESSOL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TESSOL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TESSOL_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TESSOL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Self-contained executables: no libstdc++, libgcc or winpthread DLLs to
# carry along (or to find under Wine).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

set(TESSOL_WITH_QT OFF CACHE BOOL "Build the window program and everything else that needs Qt")
