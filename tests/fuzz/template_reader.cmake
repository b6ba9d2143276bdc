cv_fuzz_target(NAME fuzz_template_reader SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_template_reader.cpp
               LIBS templates_portable CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/template_reader
               SECONDS 20)
