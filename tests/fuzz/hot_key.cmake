cv_fuzz_target(NAME fuzz_hot_key SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_hot_key.cpp
               LIBS ui_portable CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/hot_key SECONDS 15)
