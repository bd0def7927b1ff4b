# Tests of audio/.

# The capture-layer double, also used by the main window's tests and the device benchmark.
add_library(larkspur_fake_capture STATIC support/fake_capture.cpp support/fake_capture.h)
target_link_libraries(larkspur_fake_capture PUBLIC larkspur_audio)
# Checks of recorded files with sox.
add_library(larkspur_audio_checks STATIC support/audio_checks.cpp support/audio_checks.h)
target_link_libraries(larkspur_audio_checks PUBLIC larkspur_audio)

larkspur_test(audio_wave_file_test
  SOURCES unit/audio_wave_file_test.cpp
  LIBS larkspur_audio larkspur_mp3 larkspur_audio_checks GTest::gtest_main)
larkspur_test(audio_media_player_test
  SOURCES unit/audio_media_player_test.cpp
  LIBS larkspur_fake_capture larkspur_audio_checks GTest::gtest_main)
larkspur_test(audio_device_test
  SOURCES e2e/audio_device_test.cpp
  LIBS larkspur_audio larkspur_mp3 larkspur_audio_checks Qt6::Widgets
  FIXTURES pulse
  TIMEOUT 180)
target_compile_definitions(audio_device_test PRIVATE
  LARKSPUR_SOUND_SERVER="${CMAKE_CURRENT_SOURCE_DIR}/fixtures/sound-server.sh")
larkspur_test(audio_source_mix_test
  SOURCES unit/audio_source_mix_test.cpp
  LIBS larkspur_audio GTest::gtest_main)
larkspur_test(audio_capture_timeline_test
  SOURCES unit/audio_capture_timeline_test.cpp
  LIBS larkspur_audio GTest::gtest_main)
larkspur_test(audio_session_test
  SOURCES e2e/audio_session_test.cpp unit/mp3_test_support.cpp
  LIBS larkspur_audio larkspur_mp3 larkspur_audio_checks mp3lame::mp3lame PkgConfig::MPG123 GTest::gtest_main
  FIXTURES pulse
  TIMEOUT 240)
larkspur_test(audio_source_choice_test
  SOURCES e2e/audio_source_choice_test.cpp
  LIBS larkspur_audio larkspur_audio_checks GTest::gtest_main
  FIXTURES pulse
  TIMEOUT 120)
# Two sources on clocks of their own, and the analysis of a recording of both.
add_library(larkspur_two_clocks STATIC support/two_clocks.cpp support/two_clocks.h)
target_link_libraries(larkspur_two_clocks PUBLIC larkspur_audio_checks)
# On the PulseAudio daemon alone: on pipewire-pulse the pipe sources' data reaches the recorder
# with waits of up to 0.6 s (a parec beside it sees none), which the mix rides out only after a
# dropout each time the wait grows.
larkspur_test(audio_mix_test
  SOURCES e2e/audio_mix_test.cpp
  LIBS larkspur_audio larkspur_two_clocks GTest::gtest_main
  FIXTURES pulseaudio
  TIMEOUT 900)
# CTest runs the pause and the unplugging; the ten minutes of two clocks are run by hand
# (with-fixtures.sh --pulseaudio -- build/tests/audio_mix_test/audio_mix_test) or as the
# benchmark: on a machine of two cores busy with other tests the file's length drifted 27 ms.
set_property(TEST audio_mix_test_pulseaudio APPEND PROPERTY ENVIRONMENT "GTEST_FILTER=MixTest.APause*")
