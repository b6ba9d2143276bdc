cv_fuzz_target(NAME fuzz_trace_reader SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_trace_reader.cpp
               LIBS tracereader CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/trace_reader SECONDS 20)
