dorvale_fuzz(strings_file SOURCES ${CMAKE_CURRENT_LIST_DIR}/strings_file.cpp
             DEPS platform_foundation test_support)
