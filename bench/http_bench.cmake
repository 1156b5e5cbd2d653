# Needs the fake backend of the tests.
if(TARGET test_support)
  add_executable(http_bench ${CMAKE_CURRENT_LIST_DIR}/http_bench.cpp)
  target_link_libraries(http_bench PRIVATE platform_http test_support CURL::libcurl)
endif()
