# Needs the sample backend as the tests start it.
if(TARGET sample_backend_process)
  add_executable(backend_bench ${CMAKE_CURRENT_LIST_DIR}/backend_bench.cpp)
  target_link_libraries(backend_bench PRIVATE sample_backend_process sample_backend_core nlohmann_json::nlohmann_json fmt::fmt
    Threads::Threads)
endif()
