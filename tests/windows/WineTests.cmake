# The Windows build (./build-windows.sh) under Wine, against tqk5820-sim on
# a COM port: registered in the native build, so that ctest runs them
# ("ctest -R wine"); each is skipped when the Windows build or Wine is
# missing. They share one simulator and one Wine server, one at a time.
set(TESSOL_WINDOWS_BUILD ${CMAKE_SOURCE_DIR}/build-windows CACHE PATH "The Windows build that the Wine tests run")
set(wine_line ${CMAKE_CURRENT_LIST_DIR}/wine-line.sh)

add_test(NAME wine.setup COMMAND ${wine_line} ${TESSOL_WINDOWS_BUILD} $<TARGET_FILE:tqk5820-sim> setup)
add_test(NAME wine.cleanup COMMAND ${wine_line} ${TESSOL_WINDOWS_BUILD} $<TARGET_FILE:tqk5820-sim> cleanup)
set_tests_properties(wine.setup PROPERTIES FIXTURES_SETUP wine_line)
set_tests_properties(wine.cleanup PROPERTIES FIXTURES_CLEANUP wine_line)
set(wine_checks test_windows read write scan status switched-off missing-port lost-and-back network)
foreach(check ${wine_checks})
  add_test(NAME wine.${check} COMMAND ${wine_line} ${TESSOL_WINDOWS_BUILD} $<TARGET_FILE:tqk5820-sim> ${check})
  set_tests_properties(wine.${check} PROPERTIES FIXTURES_REQUIRED wine_line)
endforeach()
foreach(t setup cleanup ${wine_checks})
  set_tests_properties(wine.${t} PROPERTIES SKIP_RETURN_CODE 77 RESOURCE_LOCK wine TIMEOUT 120)
endforeach()
