add_executable(bench_startup ${CMAKE_CURRENT_LIST_DIR}/startup_bench.cpp)
target_link_libraries(bench_startup PRIVATE benchcommon Qt6::Widgets)
target_compile_definitions(bench_startup PRIVATE TAVRONA_PATH="$<TARGET_FILE:tavrona>")
add_dependencies(bench_startup tavrona)
