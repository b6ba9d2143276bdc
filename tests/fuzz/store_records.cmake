cv_fuzz_target(NAME fuzz_store_records SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_store_records.cpp
               LIBS store_portable CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/store_records SECONDS 20)
