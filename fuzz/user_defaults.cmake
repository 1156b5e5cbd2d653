dorvale_fuzz(user_defaults SOURCES ${CMAKE_CURRENT_LIST_DIR}/user_defaults.cpp
             DEPS platform_foundation test_support nlohmann_json::nlohmann_json)
