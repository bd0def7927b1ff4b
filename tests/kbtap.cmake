# Tests of kbtap/.
larkspur_test(kbtap_watch_test SOURCES gui/kbtap_watch_test.cpp gui/app_qt_main.cpp
  LIBS larkspur_hotkeys Qt6::Widgets PkgConfig::X11 ${CMAKE_DL_LIBS} FIXTURES x TIMEOUT 120)
add_dependencies(kbtap_watch_test kbtap)
