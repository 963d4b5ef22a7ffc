add_executable(bench_growth ${CMAKE_CURRENT_LIST_DIR}/growth_bench.cpp)
target_link_libraries(bench_growth PRIVATE benchcommon app search transfer)
