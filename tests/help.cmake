# Tests of help/.
larkspur_test(help_commands_test SOURCES gui/help_commands_test.cpp gui/app_qt_main.cpp LIBS larkspur_app Qt6::Test
  KBTAP)
larkspur_test(help_about_box_test SOURCES gui/help_about_box_test.cpp gui/app_qt_main.cpp LIBS larkspur_app Qt6::Test)
