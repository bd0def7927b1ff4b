# Tests of app/.

# Recording control and finishing.
larkspur_test(app_recording_logic_test SOURCES unit/app_recording_logic_test.cpp
  LIBS larkspur_app GTest::gtest_main)
larkspur_test(app_level_meter_test SOURCES unit/app_level_meter_test.cpp
  LIBS larkspur_app GTest::gtest_main)
larkspur_test(app_recording_window_test
  SOURCES gui/app_recording_window_test.cpp gui/app_recording_support.cpp
  LIBS larkspur_app larkspur_fake_capture Qt6::Test)
larkspur_test(app_finishing_test
  SOURCES gui/app_finishing_test.cpp gui/app_recording_support.cpp unit/mp3_test_support.cpp
  LIBS larkspur_app larkspur_fake_capture Qt6::Test mp3lame::mp3lame PkgConfig::MPG123 HEAVY)
larkspur_test(app_recording_e2e_test
  SOURCES e2e/app_recording_e2e_test.cpp unit/mp3_test_support.cpp
  LIBS larkspur_audio_checks larkspur_e2e_support mp3lame::mp3lame PkgConfig::MPG123
  FIXTURES x pulse TIMEOUT 120)
add_dependencies(app_recording_e2e_test larkspur kbtap larkspur_web)

# Start-up and the main window.
larkspur_test(app_main_window_test SOURCES gui/app_main_window_test.cpp gui/app_qt_main.cpp LIBS larkspur_app Qt6::Test
  KBTAP)
larkspur_test(app_error_box_test SOURCES unit/app_error_box_test.cpp LIBS larkspur_platform GTest::gtest_main)
larkspur_test(app_launcher_test SOURCES unit/app_launcher_test.cpp LIBS Qt6::Gui GTest::gtest_main)
target_compile_definitions(app_launcher_test PRIVATE LARKSPUR_SHARE_DIR="${CMAKE_BINARY_DIR}/share")
add_dependencies(app_launcher_test larkspur)
larkspur_test(app_e2e_test SOURCES e2e/app_e2e_test.cpp LIBS larkspur_e2e_support PkgConfig::X11 FIXTURES x TIMEOUT 120)
add_dependencies(app_e2e_test larkspur kbtap larkspur_web)

# The Debian package, installed into a private root and run from its read-only folder.
add_test(NAME app_package_test COMMAND ${LARKSPUR_FIXTURES} --x --pulseaudio --
  ${CMAKE_CURRENT_SOURCE_DIR}/e2e/package_test.sh ${CMAKE_BINARY_DIR})
set_tests_properties(app_package_test PROPERTIES TIMEOUT 120 RESOURCE_LOCK sound_server_timing LABELS e2e)
