# The fuzz target reads pages with the parser itself as well, to check the budget against it.
find_package(LibXml2 REQUIRED)
dorvale_fuzz(html_page SOURCES ${CMAKE_CURRENT_LIST_DIR}/html_page.cpp DEPS platform_ui LibXml2::LibXml2)
