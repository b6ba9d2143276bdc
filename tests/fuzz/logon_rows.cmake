cv_fuzz_target(NAME fuzz_logon_rows SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_logon_rows.cpp
               LIBS ui_portable CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/logon_rows SECONDS 15)
