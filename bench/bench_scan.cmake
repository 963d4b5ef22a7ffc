add_executable(bench_scan ${CMAKE_CURRENT_LIST_DIR}/scan_bench.cpp)
target_link_libraries(bench_scan PRIVATE benchcommon scan Qt6::Gui)
target_compile_definitions(bench_scan PRIVATE TAVRONA_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
