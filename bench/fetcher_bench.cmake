# Needs the fake backend of the tests.
if(TARGET test_support)
  add_executable(fetcher_bench ${CMAKE_CURRENT_LIST_DIR}/fetcher_bench.cpp)
  target_link_libraries(fetcher_bench PRIVATE toolkit test_support CURL::libcurl)
endif()
