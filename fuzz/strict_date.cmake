dorvale_fuzz(strict_date SOURCES ${CMAKE_CURRENT_LIST_DIR}/strict_date.cpp DEPS model)
