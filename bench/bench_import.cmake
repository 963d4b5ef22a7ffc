add_executable(bench_import ${CMAKE_CURRENT_LIST_DIR}/import_bench.cpp)
target_link_libraries(bench_import PRIVATE benchcommon Qt6::Core)
target_compile_definitions(bench_import PRIVATE CARDS_TOOL_PATH="$<TARGET_FILE:tavrona-cards>")
add_dependencies(bench_import tavrona-cards)
