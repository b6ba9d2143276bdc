# The logon list's rows against plain copies of the same records and, under
# Wine, AddLogonRows against loading the same templates and profiles. On the
# host the platform-free sources are compiled optimised and without
# sanitizers, so that the ratio describes the code rather than the
# instrumentation.
if(CV_WINDOWS)
  if(NOT TARGET CvFillin)
    return()
  endif()
  add_executable(logon_list_bench ${CMAKE_CURRENT_LIST_DIR}/logon_list_bench.cpp)
  target_link_libraries(logon_list_bench PRIVATE ui_list)
  cv_copy_beside(logon_list_bench_binaries CvFillin CvoSet)
  add_dependencies(logon_list_bench logon_list_bench_binaries)
else()
  file(GLOB logon_list_bench_sources CONFIGURE_DEPENDS
       "${CV_ROOT}/src/ui/portable/*.cpp" "${CV_ROOT}/src/strength/portable/*.cpp"
       "${CV_ROOT}/src/store/portable/*.cpp" "${CV_ROOT}/src/templates/portable/*.cpp")
  add_executable(logon_list_bench ${CMAKE_CURRENT_LIST_DIR}/logon_list_bench.cpp
                                  ${logon_list_bench_sources})
  target_link_libraries(logon_list_bench PRIVATE cv_boost cv_expat)
  set_property(TARGET logon_list_bench PROPERTY COMPILE_OPTIONS -O2 -Wall)
  set_property(TARGET logon_list_bench PROPERTY LINK_OPTIONS "")
  target_compile_definitions(logon_list_bench PRIVATE NDEBUG)
endif()
target_include_directories(logon_list_bench PRIVATE "${CV_ROOT}/src" "${CV_ROOT}")
add_test(NAME logon_list_bench COMMAND logon_list_bench)
set_tests_properties(logon_list_bench PROPERTIES LABELS bench TIMEOUT 600)
