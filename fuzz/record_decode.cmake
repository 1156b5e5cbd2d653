dorvale_fuzz(record_decode SOURCES ${CMAKE_CURRENT_LIST_DIR}/record_decode.cpp DEPS model)
