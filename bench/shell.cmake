# The application shell: start-up restore and memory against the mpv command
# line, the menu's meters and the command round trip (script: bench/shell).
add_executable(lumivale_bench_shell ${CMAKE_CURRENT_LIST_DIR}/shell_bench.cpp)
target_link_libraries(lumivale_bench_shell PRIVATE lumivale_bench_support)
add_dependencies(lumivale_bench_shell lumivale)
target_compile_definitions(lumivale_bench_shell PRIVATE
  LUMIVALE_EXECUTABLE="$<TARGET_FILE:lumivale>")
