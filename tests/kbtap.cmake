# Tests of kbtap/.
larkspur_test(kbtap_watch_test SOURCES gui/kbtap_watch_test.cpp gui/app_qt_main.cpp
  LIBS hotkeys_test_support Qt6::Test PkgConfig::X11 ${CMAKE_DL_LIBS} FIXTURES x TIMEOUT 120)
add_dependencies(kbtap_watch_test kbtap)

# Hotkeys on a Wayland session through the desktop portal, and without its GlobalShortcuts: the
# same binary on three fixtures, each running the cases written for it.
find_package(Qt6 REQUIRED COMPONENTS DBus)
larkspur_test(kbtap_portal_test SOURCES gui/kbtap_portal_test.cpp gui/app_qt_main.cpp
  LIBS hotkeys_test_support Qt6::Test Qt6::DBus ${CMAKE_DL_LIBS} FIXTURES x portal TIMEOUT 120)
add_dependencies(kbtap_portal_test kbtap)
set_property(TEST kbtap_portal_test APPEND PROPERTY ENVIRONMENT "GTEST_FILTER=KbtapPortal.*")
foreach(fixture portal-without-shortcuts bus)
  add_test(NAME kbtap_portal_test_${fixture} COMMAND ${LARKSPUR_FIXTURES} --x --${fixture}
    -- $<TARGET_FILE:kbtap_portal_test>)
  set_tests_properties(kbtap_portal_test_${fixture} PROPERTIES TIMEOUT 60 SKIP_RETURN_CODE 77 LABELS gui
    ENVIRONMENT "LARKSPUR_OUT_DIR=${LARKSPUR_OUT_DIR};GTEST_FILTER=KbtapWithoutShortcuts.*")
endforeach()
