dorvale_fuzz(image_data SOURCES ${CMAKE_CURRENT_LIST_DIR}/image_data.cpp DEPS platform_ui)
