foreach(target icon_link icon_file quoted_printable)
  cv_fuzz_target(NAME fuzz_${target} SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzz_${target}.cpp
                 LIBS icons_portable CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/${target} SECONDS 15)
endforeach()
