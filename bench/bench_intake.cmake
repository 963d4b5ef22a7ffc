add_executable(bench_intake ${CMAKE_CURRENT_LIST_DIR}/intake_bench.cpp)
target_link_libraries(bench_intake PRIVATE benchcommon Qt6::Core)
target_compile_definitions(bench_intake PRIVATE TAVRONA_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
                                                CARDS_TOOL_PATH="$<TARGET_FILE:tavrona-cards>")
add_dependencies(bench_intake tavrona-cards)
