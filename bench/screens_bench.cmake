# Needs the test support library (its loopback server) and the whole client.
if(TARGET test_support)
  add_executable(screens_bench ${CMAKE_CURRENT_LIST_DIR}/screens_bench.cpp)
  target_link_libraries(screens_bench PRIVATE main_shell test_support nlohmann_json::nlohmann_json fmt::fmt)
  target_compile_definitions(screens_bench PRIVATE DORVALE_SOURCE_RESOURCES="${PROJECT_SOURCE_DIR}/resources")
endif()
