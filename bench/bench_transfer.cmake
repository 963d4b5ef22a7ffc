add_executable(bench_transfer ${CMAKE_CURRENT_LIST_DIR}/transfer_bench.cpp)
target_link_libraries(bench_transfer PRIVATE benchcommon transfer)
