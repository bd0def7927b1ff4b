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
