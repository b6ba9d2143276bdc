# Save and Load of named-storage images against copying the image's bytes.
# Under Wine the program uses the product's own build of the store library; on
# the host it compiles the same sources optimised and without sanitizers, so
# that the ratios describe the code rather than the instrumentation.
if(CV_WINDOWS)
  add_executable(store_bench ${CMAKE_CURRENT_LIST_DIR}/store_bench.cpp)
  target_link_libraries(store_bench PRIVATE store_portable)
else()
  file(GLOB store_bench_sources CONFIGURE_DEPENDS "${CV_ROOT}/src/store/portable/*.cpp")
  add_executable(store_bench ${CMAKE_CURRENT_LIST_DIR}/store_bench.cpp ${store_bench_sources})
  target_link_libraries(store_bench PRIVATE cv_boost)
  set_property(TARGET store_bench PROPERTY COMPILE_OPTIONS -O2 -Wall)
  set_property(TARGET store_bench PROPERTY LINK_OPTIONS "")
  target_compile_definitions(store_bench PRIVATE NDEBUG)
endif()
target_include_directories(store_bench PRIVATE "${CV_ROOT}/src" "${CV_ROOT}")
add_test(NAME store_bench COMMAND store_bench)
set_tests_properties(store_bench PROPERTIES LABELS bench TIMEOUT 300)
