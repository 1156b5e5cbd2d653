add_executable(guard_bench ${CMAKE_CURRENT_LIST_DIR}/guard_bench.cpp)
target_link_libraries(guard_bench PRIVATE platform_foundation)
