# Media cache: poster frames against the ffmpeg command line, downloads against
# curl, and the trim of a large folder (script: bench/cache).
add_executable(lumivale_bench_cache ${CMAKE_CURRENT_LIST_DIR}/cache_bench.cpp)
target_link_libraries(lumivale_bench_cache PRIVATE lumivale_core)
