# Needs the fake backend of the tests.
if(TARGET test_support)
  add_executable(upload_bench ${CMAKE_CURRENT_LIST_DIR}/upload_bench.cpp)
  target_link_libraries(upload_bench PRIVATE toolkit test_support CURL::libcurl)
endif()
