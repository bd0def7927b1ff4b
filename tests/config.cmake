# Tests of config/.
larkspur_test(config_ini_file_test SOURCES unit/config_ini_file_test.cpp
  LIBS larkspur_config GTest::gtest_main)
