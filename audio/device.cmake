# The recording device (larkspur_audio).
add_library(larkspur_audio STATIC
  capture_device.cpp
  level_tap.cpp
  media_player.cpp
  capture_timeline.cpp
  capture_writer.cpp
  default_output_follower.cpp
  program_follower.cpp
  record_stream.cpp
  mixed_source.cpp
  source_mix.cpp
  pulse_capture.cpp
  pulse_connection.cpp
  wave_file.cpp
)
target_link_libraries(larkspur_audio PUBLIC larkspur_platform PRIVATE PkgConfig::PULSE PkgConfig::SAMPLERATE)
