add_executable(bench_report bench_report.cpp)
target_link_libraries(bench_report PRIVATE tav::tav benchmark::benchmark SQLite::SQLite3 tav_options)
