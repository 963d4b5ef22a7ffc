add_executable(bench_sheet ${CMAKE_CURRENT_LIST_DIR}/sheet_bench.cpp)
target_link_libraries(bench_sheet PRIVATE benchcommon editor Qt6::Gui)
