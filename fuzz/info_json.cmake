dorvale_fuzz(info_json SOURCES ${CMAKE_CURRENT_LIST_DIR}/info_json.cpp
             DEPS platform_foundation test_support)
