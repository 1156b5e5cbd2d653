dorvale_fuzz(retry_after SOURCES ${CMAKE_CURRENT_LIST_DIR}/retry_after.cpp DEPS toolkit)
