cv_fuzz_target(NAME fuzz_web_link SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_web_link.cpp
               LIBS ui_portable CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/web_link SECONDS 15)
