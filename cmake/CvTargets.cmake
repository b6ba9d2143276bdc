# Common settings and helpers for every target of the project.

if(WIN32)
  set(CV_WINDOWS ON)
  # The shipped component is 32-bit; the 64-bit twin builds the same sources so the
  # Windows tests also run where 32-bit code cannot.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CV_MINGW_ARCH x86_64)
  else()
    set(CV_MINGW_ARCH i686)
  endif()
  include("${CMAKE_CURRENT_LIST_DIR}/CvBuildKind.cmake")
  # Test programs run under Wine in a prefix that belongs to this build tree.
  set(CV_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
  set(CMAKE_CROSSCOMPILING_EMULATOR "${CV_ROOT}/scripts/wine-run.sh;--prefix;${CV_WINEPREFIX}")
  # Runtime linked statically: the DLL and the programs import only system DLLs.
  add_link_options(-static -static-libgcc -static-libstdc++)
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601
                          WINVER=0x0601)
  add_compile_options(-Wall -Wextra -Wno-unused-parameter -Wno-missing-field-initializers)
else()
  set(CV_WINDOWS OFF)
  add_compile_options(-Wall -Wextra -Wno-unused-parameter)
  if(CV_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
  endif()
endif()

# Boost: headers only, from a folder that holds nothing else (never /usr/include
# for the mingw compiler).
add_library(cv_boost INTERFACE)
target_include_directories(cv_boost SYSTEM INTERFACE "${CV_DEPS}/boost-headers")

# Expat: the mingw build made by scripts/setup.sh, or the system's on the host.
if(CV_WINDOWS)
  add_library(cv_expat STATIC IMPORTED GLOBAL)
  set_target_properties(cv_expat PROPERTIES
    IMPORTED_LOCATION "${CV_DEPS}/expat-${CV_MINGW_ARCH}/lib/libexpat.a"
    INTERFACE_INCLUDE_DIRECTORIES "${CV_DEPS}/expat-${CV_MINGW_ARCH}/include"
    INTERFACE_COMPILE_DEFINITIONS XML_STATIC)
else()
  find_package(EXPAT REQUIRED)
  add_library(cv_expat INTERFACE)
  target_link_libraries(cv_expat INTERFACE EXPAT::EXPAT)
endif()

# GoogleTest, built from the distribution's sources with this build's compiler.
set(CV_GTEST_SOURCE "/usr/src/googletest" CACHE PATH "GoogleTest sources")
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory("${CV_GTEST_SOURCE}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)

# A platform-free library: builds natively (sanitizers, fuzzers) and for Windows.
function(cv_portable_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC "${CV_ROOT}/src" "${CV_ROOT}")
endfunction()

# A Windows-only library (Win32 glue).
function(cv_win32_library name)
  if(CV_WINDOWS)
    add_library(${name} STATIC ${ARGN})
    target_include_directories(${name} PUBLIC "${CV_ROOT}/src" "${CV_ROOT}")
  endif()
endfunction()

# A GoogleTest program; on Windows builds ctest runs it under Wine.
#   cv_test(NAME name SOURCES ... LIBS ... [WINDOWS_ONLY] [TRACED] [LOCKS lock...])
# TRACED: the tests run with the program's own tracing switched on and read it
# back (tests/support/traced_test_main.h); implies WINDOWS_ONLY.
function(cv_test)
  cmake_parse_arguments(T "WINDOWS_ONLY;TRACED" "NAME" "SOURCES;LIBS;LOCKS" ${ARGN})
  if((T_WINDOWS_ONLY OR T_TRACED) AND NOT CV_WINDOWS)
    return()
  endif()
  if(T_TRACED)
    add_executable(${T_NAME} ${T_SOURCES} "${CV_ROOT}/tests/support/traced_test_main.cpp")
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} tracereader GTest::gtest)
    list(APPEND T_LOCKS hklm)
  else()
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  endif()
  target_include_directories(${T_NAME} PRIVATE "${CV_ROOT}/src" "${CV_ROOT}" "${CV_ROOT}/tests")
  add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_brief=1)
  set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT "CV_TEST_DATA=${CV_ROOT}/tests/data"
                                             TIMEOUT 600)
  if(T_LOCKS)
    set_tests_properties(${T_NAME} PROPERTIES RESOURCE_LOCK "${T_LOCKS}")
  endif()
endfunction()

# Copies built binaries (the DLL, stand-ins) beside the test programs of the
# current folder, as an installation lays them side by side; `name` becomes a
# target the tests depend on. Each copy has its own rule, so that a rebuilt
# binary is copied again even when no test relinks. Missing targets are skipped.
#   cv_copy_beside(name binary...)
function(cv_copy_beside name)
  set(stamps "")
  foreach(binary ${ARGN})
    if(TARGET ${binary})
      set(stamp "${CMAKE_CURRENT_BINARY_DIR}/${binary}.copied")
      add_custom_command(OUTPUT "${stamp}"
                         COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${binary}>
                                 "${CMAKE_CURRENT_BINARY_DIR}/$<TARGET_FILE_NAME:${binary}>"
                         COMMAND ${CMAKE_COMMAND} -E touch "${stamp}"
                         DEPENDS ${binary})
      list(APPEND stamps "${stamp}")
    endif()
  endforeach()
  add_custom_target(${name} ALL DEPENDS ${stamps})
endfunction()

# The plug-in's language library into the "0409" folder beside the test
# programs of the current directory, where the plug-in copied beside them looks.
function(cv_copy_language_beside name)
  set(stamp "${CMAKE_CURRENT_BINARY_DIR}/CVOnlineIDsLang.copied")
  add_custom_command(OUTPUT "${stamp}"
                     COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_CURRENT_BINARY_DIR}/0409"
                     COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:CVOnlineIDsLang>
                             "${CMAKE_CURRENT_BINARY_DIR}/0409/"
                     COMMAND ${CMAKE_COMMAND} -E touch "${stamp}"
                     DEPENDS CVOnlineIDsLang)
  add_custom_target(${name} ALL DEPENDS "${stamp}")
endfunction()

# A libFuzzer target (host build only) with its seed corpus; ctest runs it briefly.
#   cv_fuzz_target(NAME name SOURCES ... LIBS ... CORPUS dir [SECONDS n])
function(cv_fuzz_target)
  cmake_parse_arguments(F "" "NAME;CORPUS;SECONDS" "SOURCES;LIBS" ${ARGN})
  if(CV_WINDOWS OR NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    return()
  endif()
  if(NOT F_SECONDS)
    set(F_SECONDS 20)
  endif()
  add_executable(${F_NAME} ${F_SOURCES})
  target_compile_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${F_NAME} PRIVATE ${F_LIBS})
  target_include_directories(${F_NAME} PRIVATE "${CV_ROOT}/src" "${CV_ROOT}")
  set(work "${CMAKE_BINARY_DIR}/fuzz-work/${F_NAME}")
  add_test(NAME ${F_NAME}
           COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1
                   "${CV_ROOT}/scripts/fuzz-run.sh" $<TARGET_FILE:${F_NAME}> "${F_CORPUS}" "${work}"
                   ${F_SECONDS})
  set_tests_properties(${F_NAME} PROPERTIES TIMEOUT 300 LABELS fuzz)
endfunction()

# A subsystem folder: its platform-free sources in portable/ form <name>_portable
# (built natively too, for sanitizers and fuzzers); the Win32 glue beside them
# forms <name>. Extra dependencies go into portable/deps.cmake and deps.cmake.
function(cv_subsystem name)
  set(dir "${CMAKE_CURRENT_SOURCE_DIR}")
  file(GLOB portable_sources CONFIGURE_DEPENDS "${dir}/portable/*.cpp")
  if(portable_sources)
    cv_portable_library(${name}_portable ${portable_sources})
    include("${dir}/portable/deps.cmake" OPTIONAL)
  endif()
  if(CV_WINDOWS)
    file(GLOB sources CONFIGURE_DEPENDS "${dir}/*.cpp")
    if(sources)
      cv_win32_library(${name} ${sources})
      target_link_libraries(${name} PUBLIC tracing support)
      if(TARGET ${name}_portable)
        target_link_libraries(${name} PUBLIC ${name}_portable)
      endif()
      include("${dir}/deps.cmake" OPTIONAL)
    endif()
  endif()
endfunction()
