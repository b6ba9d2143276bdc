# Tests of the protected-storage loader against the "CvoPS.dll" stand-in.
# Included by this folder's CMakeLists.txt. The tests that inject faults into
# the stand-in hold the resource lock "cvops".
if(NOT CV_WINDOWS OR NOT TARGET CvoPS)
  return()
endif()

set(pstore_dir "${CMAKE_CURRENT_LIST_DIR}")

# A library that lacks one of the sixteen entry points.
add_library(CvoPS_partial SHARED "${pstore_dir}/protected_storage_partial.cpp"
                                 "${pstore_dir}/protected_storage_partial.def")
set_target_properties(CvoPS_partial PROPERTIES PREFIX "" OUTPUT_NAME "CvoPS_partial")

# The stand-in beside the test programs.
cv_copy_beside(pstore_test_binaries CvoPS)
add_dependencies(pstore_test_binaries CvoPS_partial)

cv_test(NAME protected_storage_tests WINDOWS_ONLY
        SOURCES "${pstore_dir}/protected_storage_loader_test.cpp"
                "${pstore_dir}/protected_storage_wipe_test.cpp"
        LIBS store templates ole32 secur32
        LOCKS cvops)
add_dependencies(protected_storage_tests pstore_test_binaries)
