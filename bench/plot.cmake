add_executable(bench_plot bench_plot.cpp)
target_link_libraries(bench_plot PRIVATE tav::tav benchmark::benchmark tav_options)
