# The manage and strength tabs filled with 4,000 rows against a bare list-view
# fill of the same rows (Windows only: real tab windows over the stand-ins).
if(CV_WINDOWS AND TARGET CvoPS AND TARGET CvFillin)
  add_executable(pages_bench ${CMAKE_CURRENT_LIST_DIR}/pages_bench.cpp)
  target_link_libraries(pages_bench PRIVATE ui_pages ole32 oleaut32)
  target_include_directories(pages_bench PRIVATE "${CV_ROOT}/src" "${CV_ROOT}")
  cv_copy_beside(pages_bench_binaries CvoPS CvFillin CvoSet CVOnlineIDsLang CVOnlineIDs)
  add_dependencies(pages_bench pages_bench_binaries)
  add_test(NAME pages_bench COMMAND pages_bench)
  set_tests_properties(pages_bench PROPERTIES LABELS bench TIMEOUT 600 RESOURCE_LOCK "hklm;cvops;fillin")
endif()
