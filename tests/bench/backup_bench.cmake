# Backup and restore of 1,000 logons against copying their files (Wine only).
if(CV_WINDOWS)
  add_executable(backup_bench ${CMAKE_CURRENT_LIST_DIR}/backup_bench.cpp)
  target_link_libraries(backup_bench PRIVATE store)
  target_include_directories(backup_bench PRIVATE "${CV_ROOT}/src" "${CV_ROOT}")
  add_dependencies(backup_bench CvoSet)
  add_custom_command(TARGET backup_bench POST_BUILD
                     COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:CvoSet>
                             "${CMAKE_CURRENT_BINARY_DIR}/$<TARGET_FILE_NAME:CvoSet>")
  add_test(NAME backup_bench COMMAND backup_bench)
  set_tests_properties(backup_bench PROPERTIES LABELS bench TIMEOUT 300 RESOURCE_LOCK hklm
                       ENVIRONMENT "CV_TEST_DATA=${CV_ROOT}/tests/data")
endif()
