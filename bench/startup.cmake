# Start-up, idle memory and Record latency against a bare Qt window and parec.
# One command: cmake --build <build> --target bench_startup   (about 60 s)
add_executable(startup_floor startup/floor.cpp)
target_link_libraries(startup_floor PRIVATE Qt6::Widgets)
add_executable(startup_bench startup/startup_bench.cpp)
target_link_libraries(startup_bench PRIVATE larkspur_audio_checks PkgConfig::X11)
set_target_properties(startup_floor startup_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
add_custom_target(bench_startup
  COMMAND ${CMAKE_SOURCE_DIR}/tests/fixtures/with-fixtures.sh --x --pulseaudio --
    $<TARGET_FILE:startup_bench> ${LARKSPUR_OUT_DIR} $<TARGET_FILE:startup_floor>
  DEPENDS startup_bench startup_floor larkspur kbtap larkspur_web
  USES_TERMINAL)
