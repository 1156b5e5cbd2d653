dorvale_fuzz(sound_data SOURCES ${CMAKE_CURRENT_LIST_DIR}/sound_data.cpp DEPS platform_ui)
