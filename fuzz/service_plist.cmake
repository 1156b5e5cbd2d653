dorvale_fuzz(service_plist SOURCES ${CMAKE_CURRENT_LIST_DIR}/service_plist.cpp
             DEPS config analytics test_support)
