# The rating pass and the dashboard storage's template list (Windows only: the
# pass decodes through CryptoAPI, the list comes from a named section).
if(CV_WINDOWS AND TARGET lookup_cache_builder AND TARGET CvoPS)
  add_executable(strength_bench ${CMAKE_CURRENT_LIST_DIR}/strength_bench.cpp)
  target_link_libraries(strength_bench PRIVATE strength lookup_cache_builder ole32 oleaut32)
  target_include_directories(strength_bench PRIVATE "${CV_ROOT}/src" "${CV_ROOT}")
  cv_copy_beside(strength_bench_binaries CvoPS CvFillin CvoSet)
  add_dependencies(strength_bench strength_bench_binaries)
  add_test(NAME strength_bench COMMAND strength_bench)
  set_tests_properties(strength_bench PROPERTIES LABELS bench TIMEOUT 600)
endif()
