# Stills: an exact-time frame plus JPEG against the ffmpeg command line (script: bench/stills).
add_executable(lumivale_bench_stills ${CMAKE_CURRENT_LIST_DIR}/stills_bench.cpp)
target_link_libraries(lumivale_bench_stills PRIVATE lumivale_core)
