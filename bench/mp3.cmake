# MP3 conversion benchmark: ours against the lame program, and peak memory for 10 and 60 minutes.
# Run by hand: <build>/bench/mp3_bench
add_executable(mp3_bench mp3_bench.cpp)
target_link_libraries(mp3_bench PRIVATE larkspur_mp3)
set_target_properties(mp3_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)

# Stop to MP3 in place with the MP3 encoded while recording, for 1, 10 and 60 minutes.
# Run by hand (QT_QPA_PLATFORM=offscreen): <build>/bench/early_mp3_bench [work-dir]
add_executable(early_mp3_bench early_mp3_bench.cpp)
target_link_libraries(early_mp3_bench PRIVATE larkspur_mp3 larkspur_fake_capture larkspur_audio_checks Qt6::Widgets)
set_target_properties(early_mp3_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
