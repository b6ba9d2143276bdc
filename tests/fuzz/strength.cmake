cv_fuzz_target(NAME fuzz_strength SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_strength.cpp
               LIBS strength_portable CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/strength SECONDS 20)
