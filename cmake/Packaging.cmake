# Installing on Linux: the desktop entry and icon beside the programs (each
# program's install rule stands next to its target), and CPack's Debian
# package of all of it:
#   cmake --install build --prefix /usr/local
#   cd build && cpack            # tessol_<version>_amd64.deb
# Tests, benchmarks, the gallery and the screenshot tool are not installed.

if(TESSOL_WITH_QT)
  install(FILES ${CMAKE_SOURCE_DIR}/resources/tessol.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${CMAKE_SOURCE_DIR}/resources/tessol.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessol)
set(CPACK_PACKAGE_VENDOR "Tessol developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Support program for TQK-5820 temperature controllers")
set(CPACK_PACKAGE_DESCRIPTION
    "Watches, logs and sets TQK-5820 thermo-electric temperature controllers on the serial lines COM1 to COM4 or behind a network serial server. Comes with tessolctl for the command line and tqk5820-sim, a simulator of the instruments.")
set(CPACK_PACKAGE_CONTACT "Tessol developers")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Tessol developers")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The Qt, libmosquitto and C++ runtime packages, found by dpkg-shlibdeps
# (dpkg-dev) from what the programs link.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The build type keeps debugging information; the package goes without it.
set(CPACK_STRIP_FILES ON)
include(CPack)
