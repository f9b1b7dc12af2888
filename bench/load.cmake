add_executable(bench_load bench_load.cpp)
target_link_libraries(bench_load PRIVATE tav::tav benchmark::benchmark SQLite::SQLite3 tav_options)
