dorvale_fuzz(keychain_item SOURCES ${CMAKE_CURRENT_LIST_DIR}/keychain_item.cpp
             DEPS platform_keychain test_support)
