# Tests of hotkeys/ and of the keyboard layer in platform/.

# Stand-ins for libkbtap.so that record the program's calls, each in a folder of its own.
set(HOTKEYS_FAKE_KBTAP_DIR ${CMAKE_BINARY_DIR}/tests/fake-kbtap)
foreach(variant full nosetlist nosethook)
  add_library(hotkeys_fake_kbtap_${variant} SHARED unit/hotkeys_fake_kbtap.c)
  target_include_directories(hotkeys_fake_kbtap_${variant} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  set_target_properties(hotkeys_fake_kbtap_${variant} PROPERTIES OUTPUT_NAME kbtap
    C_VISIBILITY_PRESET hidden LIBRARY_OUTPUT_DIRECTORY ${HOTKEYS_FAKE_KBTAP_DIR}/${variant})
endforeach()
target_compile_definitions(hotkeys_fake_kbtap_nosetlist PRIVATE FAKE_NO_SETLIST)
target_compile_definitions(hotkeys_fake_kbtap_nosethook PRIVATE FAKE_NO_SETHOOK)

add_library(hotkeys_test_support STATIC support/hotkeys_support.cpp)
target_include_directories(hotkeys_test_support PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(hotkeys_test_support PRIVATE
  LARKSPUR_FAKE_KBTAP_DIR="${HOTKEYS_FAKE_KBTAP_DIR}")
target_link_libraries(hotkeys_test_support PUBLIC larkspur_hotkeys larkspur_audio_checks Qt6::Test GTest::gtest ${CMAKE_DL_LIBS}
  PRIVATE PkgConfig::X11)
add_dependencies(hotkeys_test_support
  hotkeys_fake_kbtap_full hotkeys_fake_kbtap_nosetlist hotkeys_fake_kbtap_nosethook)

larkspur_test(hotkeys_table_test SOURCES unit/hotkeys_table_test.cpp
  LIBS hotkeys_test_support GTest::gtest_main)
# The translation of key events shared by the key fields and libkbtap.so, on real layouts.
larkspur_test(hotkeys_keymap_test SOURCES unit/hotkeys_keymap_test.cpp
  LIBS hotkeys_test_support larkspur_keymap GTest::gtest_main FIXTURES x)
larkspur_test(hotkeys_dispatch_test SOURCES unit/hotkeys_dispatch_test.cpp
  LIBS hotkeys_test_support GTest::gtest_main)
larkspur_test(hotkeys_hook_library_test SOURCES unit/hotkeys_hook_library_test.cpp
  LIBS hotkeys_test_support)
larkspur_test(hotkeys_dialog_test SOURCES gui/hotkeys_dialog_test.cpp gui/app_qt_main.cpp
  LIBS hotkeys_test_support Qt6::Test)
larkspur_test(hotkeys_dialog_x_test SOURCES gui/hotkeys_dialog_x_test.cpp gui/app_qt_main.cpp
  LIBS hotkeys_test_support Qt6::Test FIXTURES x TIMEOUT 60)
# The main window loads the real libkbtap.so from its test program's folder.
larkspur_test(hotkeys_main_window_test
  SOURCES gui/hotkeys_main_window_test.cpp gui/app_recording_support.cpp
  LIBS larkspur_app larkspur_fake_capture hotkeys_test_support Qt6::Test FIXTURES x TIMEOUT 120 KBTAP)
larkspur_test(hotkeys_e2e_test SOURCES e2e/hotkeys_e2e_test.cpp gui/app_qt_main.cpp
  LIBS hotkeys_test_support larkspur_audio_checks larkspur_e2e_support FIXTURES x portal pulse TIMEOUT 120)
add_dependencies(hotkeys_e2e_test larkspur kbtap)
