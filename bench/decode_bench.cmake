add_executable(decode_bench ${CMAKE_CURRENT_LIST_DIR}/decode_bench.cpp)
target_link_libraries(decode_bench PRIVATE model nlohmann_json::nlohmann_json)
