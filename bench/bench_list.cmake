add_executable(bench_list ${CMAKE_CURRENT_LIST_DIR}/list_bench.cpp)
target_link_libraries(bench_list PRIVATE benchcommon app)
