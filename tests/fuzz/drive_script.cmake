cv_fuzz_target(NAME fuzz_drive_script SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_drive_script.cpp
               LIBS cvhost_portable CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/drive_script SECONDS 10)
