dorvale_fuzz(set_cookie SOURCES ${CMAKE_CURRENT_LIST_DIR}/set_cookie.cpp DEPS toolkit platform_net)
