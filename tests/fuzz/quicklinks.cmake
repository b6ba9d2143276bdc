cv_fuzz_target(NAME fuzz_quicklinks SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_quicklinks.cpp
               LIBS quicklinks_portable CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/quicklinks SECONDS 20)
