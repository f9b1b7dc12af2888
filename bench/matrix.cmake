add_executable(bench_matrix bench_matrix.cpp)
target_link_libraries(bench_matrix PRIVATE tav_matrix benchmark::benchmark)
