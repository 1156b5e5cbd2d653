dorvale_fuzz(html_page SOURCES ${CMAKE_CURRENT_LIST_DIR}/html_page.cpp DEPS platform_ui)
