# Loading templates from disk against parsing the same bytes with Expat alone
# (Windows build, under Wine: the loader maps files through Win32).
if(CV_WINDOWS)
  add_executable(template_reader_bench ${CMAKE_CURRENT_LIST_DIR}/template_reader_bench.cpp)
  target_link_libraries(template_reader_bench PRIVATE templates cv_expat)
  target_include_directories(template_reader_bench PRIVATE "${CV_ROOT}/src" "${CV_ROOT}")
  add_test(NAME template_reader_bench COMMAND template_reader_bench)
  set_tests_properties(template_reader_bench PROPERTIES LABELS bench TIMEOUT 300
                       ENVIRONMENT "CV_TEST_DATA=${CV_ROOT}/tests/data")
endif()
