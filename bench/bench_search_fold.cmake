add_executable(bench_search_fold ${CMAKE_CURRENT_LIST_DIR}/search_fold_bench.cpp)
target_link_libraries(bench_search_fold PRIVATE benchcommon app search)
