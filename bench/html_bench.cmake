add_executable(html_bench ${CMAKE_CURRENT_LIST_DIR}/html_bench.cpp)
target_link_libraries(html_bench PRIVATE platform_ui)
target_compile_definitions(html_bench PRIVATE DORVALE_HTML_SEEDS="${PROJECT_SOURCE_DIR}/fuzz/corpus/html_page")
