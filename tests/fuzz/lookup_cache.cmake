cv_fuzz_target(NAME fuzz_lookup_cache SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_lookup_cache.cpp
               LIBS templates_portable CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/lookup_cache
               SECONDS 20)
