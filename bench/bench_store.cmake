add_library(benchcommon STATIC ${CMAKE_CURRENT_LIST_DIR}/benchcommon.cpp ${CMAKE_CURRENT_LIST_DIR}/benchcommon.h)
target_include_directories(benchcommon PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_SOURCE_DIR}/tests/common PRIVATE ${FIREBIRD_INCLUDE_DIR})
target_link_libraries(benchcommon PUBLIC Qt6::Core PRIVATE ${FBCLIENT_LIBRARY})
target_compile_definitions(benchcommon PRIVATE MKCARDDB_PATH="$<TARGET_FILE:mkcarddb>")
add_dependencies(benchcommon mkcarddb)

add_executable(bench_store ${CMAKE_CURRENT_LIST_DIR}/store_bench.cpp)
target_link_libraries(bench_store PRIVATE benchcommon store)
