# Desktop integration: how fast the wallpaper window gets back under another
# program's desktop window, and the idle cost of watching (script: bench/desktops).
add_executable(lumivale_bench_desktops ${CMAKE_CURRENT_LIST_DIR}/desktops_bench.cpp)
target_link_libraries(lumivale_bench_desktops PRIVATE lumivale_bench_support PkgConfig::XCB)
