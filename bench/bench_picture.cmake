find_package(JPEG REQUIRED)
add_executable(bench_picture ${CMAKE_CURRENT_LIST_DIR}/picture_bench.cpp)
target_link_libraries(bench_picture PRIVATE benchcommon editor Qt6::Widgets JPEG::JPEG)
