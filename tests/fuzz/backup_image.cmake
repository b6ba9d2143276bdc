cv_fuzz_target(NAME fuzz_backup_image SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_backup_image.cpp
               LIBS store_portable CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/backup_image SECONDS 20)
