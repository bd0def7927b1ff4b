# Tests of kbtap/.
larkspur_test(kbtap_watch_test SOURCES gui/kbtap_watch_test.cpp gui/app_qt_main.cpp
  LIBS hotkeys_test_support Qt6::Test PkgConfig::X11 ${CMAKE_DL_LIBS} FIXTURES x TIMEOUT 120)
add_dependencies(kbtap_watch_test kbtap)
