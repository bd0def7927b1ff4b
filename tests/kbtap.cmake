# Tests of kbtap/.
larkspur_test(kbtap_watch_test SOURCES gui/kbtap_watch_test.cpp gui/app_qt_main.cpp
  LIBS hotkeys_test_support Qt6::Test PkgConfig::X11 ${CMAKE_DL_LIBS} FIXTURES x TIMEOUT 120)
add_dependencies(kbtap_watch_test kbtap)

# Test programs that create the main window load libkbtap.so from their own folder, as the program
# does from its folder.
set(kbtap_beside_tests ${CMAKE_BINARY_DIR}/tests/libkbtap.so)
add_custom_command(OUTPUT ${kbtap_beside_tests}
  COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:kbtap> ${kbtap_beside_tests}
  DEPENDS kbtap)
add_custom_target(kbtap_beside_tests DEPENDS ${kbtap_beside_tests})
add_dependencies(app_main_window_test kbtap_beside_tests)
