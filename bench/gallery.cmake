# The gallery's video surface: CPU against the mpv command line on each render
# path, and the idle process (script: bench/gallery).
add_executable(lumivale_bench_gallery ${CMAKE_CURRENT_LIST_DIR}/gallery_bench.cpp)
target_link_libraries(lumivale_bench_gallery PRIVATE lumivale_bench_support)
