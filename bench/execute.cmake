add_executable(bench_execute bench_execute.cpp)
target_link_libraries(bench_execute PRIVATE tav::tav benchmark::benchmark SQLite::SQLite3 tav_options)
