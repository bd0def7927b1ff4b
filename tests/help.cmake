# Tests of help/.
larkspur_test(help_commands_test SOURCES gui/help_commands_test.cpp gui/app_qt_main.cpp LIBS larkspur_app Qt6::Test
  KBTAP)
larkspur_test(help_about_box_test SOURCES gui/help_about_box_test.cpp gui/app_qt_main.cpp LIBS larkspur_app Qt6::Test)
# The desktop's shell layer itself, with stand-in programs.
larkspur_test(platform_shell_test SOURCES gui/platform_shell_test.cpp gui/app_qt_main.cpp
  LIBS larkspur_platform Qt6::Test FIXTURES x)
