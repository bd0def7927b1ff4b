# Tests of the MP3 converter. The output is checked by decoding it with libmpg123.

larkspur_test(mp3_tests
  SOURCES
    unit/mp3_test_main.cpp
    unit/mp3_test_support.cpp
    unit/mp3_stream_test.cpp
    unit/mp3_wav2mp3_test.cpp
    unit/mp3_early_test.cpp
  LIBS larkspur_mp3 larkspur_audio mp3lame::mp3lame PkgConfig::MPG123
  TIMEOUT 120 HEAVY
)
