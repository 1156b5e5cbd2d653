add_executable(quiz_bench ${CMAKE_CURRENT_LIST_DIR}/quiz_bench.cpp)
target_link_libraries(quiz_bench PRIVATE services nlohmann_json::nlohmann_json)
