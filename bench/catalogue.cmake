# Catalogue: manifest decoding and the search snapshot (script: bench/catalogue).
add_executable(lumivale_bench_catalogue ${CMAKE_CURRENT_LIST_DIR}/catalogue_bench.cpp)
target_link_libraries(lumivale_bench_catalogue PRIVATE lumivale_core)
