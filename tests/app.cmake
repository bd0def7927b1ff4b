# Tests of app/.

# Recording control and finishing (recording).
larkspur_test(app_recording_logic_test SOURCES unit/app_recording_logic_test.cpp
  LIBS larkspur_app GTest::gtest_main)
larkspur_test(app_recording_window_test
  SOURCES gui/app_recording_window_test.cpp gui/app_recording_support.cpp support/fake_capture.cpp
  LIBS larkspur_app Qt6::Test)
