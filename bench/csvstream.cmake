add_executable(bench_csvstream bench_csvstream.cpp)
target_link_libraries(bench_csvstream PRIVATE tav::tav tav_options)
