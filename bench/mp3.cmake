# MP3 conversion benchmark: ours against the lame program, and peak memory for 10 and 60 minutes.
# Run by hand: <build>/bench/mp3_bench
add_executable(mp3_bench mp3_bench.cpp)
target_link_libraries(mp3_bench PRIVATE larkspur_mp3)
set_target_properties(mp3_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
