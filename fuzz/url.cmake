dorvale_fuzz(url SOURCES ${CMAKE_CURRENT_LIST_DIR}/url.cpp DEPS platform_foundation)
