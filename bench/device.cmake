# Recording-device benchmark: CPU against parecord, peak memory, Save times.
# One command: cmake --build <build> --target bench_device   (about 140 s; not run by the tests)
add_executable(device_bench device_bench.cpp)
target_link_libraries(device_bench PRIVATE larkspur_fake_capture larkspur_audio_checks larkspur_mp3)
set_target_properties(device_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
add_custom_target(bench_device
  COMMAND ${CMAKE_SOURCE_DIR}/tests/fixtures/with-fixtures.sh --pulseaudio -- $<TARGET_FILE:device_bench>
  DEPENDS device_bench
  USES_TERMINAL)

# The whole program's CPU with the level meter on screen and off it, against parecord.
# One command: cmake --build <build> --target bench_level_meter   (about 70 s)
add_custom_target(bench_level_meter
  COMMAND ${CMAKE_SOURCE_DIR}/tests/fixtures/with-fixtures.sh --x --pulseaudio --
    ${CMAKE_CURRENT_SOURCE_DIR}/level_meter_bench.sh ${LARKSPUR_OUT_DIR}
  DEPENDS larkspur kbtap larkspur_web
  USES_TERMINAL)

# Two sources of two clocks mixed for an hour: offset drift, the ratio settled on, CPU against
# two parecords. One command: cmake --build <build> --target bench_mix   (about 61 min)
add_executable(mix_bench mix_bench.cpp)
target_link_libraries(mix_bench PRIVATE larkspur_audio larkspur_two_clocks)
set_target_properties(mix_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
add_custom_target(bench_mix
  COMMAND ${CMAKE_SOURCE_DIR}/tests/fixtures/with-fixtures.sh --pulseaudio -- $<TARGET_FILE:mix_bench>
  DEPENDS mix_bench
  USES_TERMINAL)
