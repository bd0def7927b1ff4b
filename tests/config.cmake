# Tests of config/.
larkspur_test(config_ini_file_test SOURCES unit/config_ini_file_test.cpp
  LIBS larkspur_config GTest::gtest_main)
larkspur_test(config_loopback_selection_test SOURCES unit/config_loopback_selection_test.cpp
  LIBS larkspur_config GTest::gtest_main)
larkspur_test(config_loopback_server_test SOURCES e2e/config_loopback_server_test.cpp
  LIBS larkspur_config FIXTURES pulse TIMEOUT 60)
larkspur_test(config_dialogs_test SOURCES gui/config_dialogs_test.cpp
  LIBS larkspur_config Qt6::Test)
larkspur_test(config_recorder_folders_test SOURCES unit/config_recorder_folders_test.cpp
  LIBS larkspur_platform GTest::gtest_main)
# The Recording Control in the built program, driven through AT-SPI as assistive technology drives it.
foreach(server pulseaudio pipewire)
  add_test(NAME config_recording_control_test_${server}
    COMMAND ${LARKSPUR_FIXTURES} --x --bus --${server} -- /usr/bin/python3
      ${CMAKE_CURRENT_SOURCE_DIR}/e2e/config_recording_control_test.py)
  set_tests_properties(config_recording_control_test_${server} PROPERTIES
    ENVIRONMENT "LARKSPUR_OUT_DIR=${LARKSPUR_OUT_DIR}" TIMEOUT 90 RESOURCE_LOCK sound_server_timing LABELS e2e)
endforeach()
