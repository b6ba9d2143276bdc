cv_fuzz_target(NAME fuzz_store_image SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_store_image.cpp
               LIBS store_portable CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/store_image SECONDS 20)
