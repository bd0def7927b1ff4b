# The WAV to MP3 converter (larkspur_mp3).
add_library(larkspur_mp3 STATIC
  early_mp3.cpp
  lame_stream.cpp
  wav2mp3.cpp
  wav2mp3_input.cpp
)
target_link_libraries(larkspur_mp3 PUBLIC larkspur_platform PRIVATE mp3lame::mp3lame)
