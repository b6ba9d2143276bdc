if(NOT CV_WINDOWS)
  return()
endif()
# Saving the file, with a child process killed while it saves.
cv_test(NAME quicklinks_save_tests WINDOWS_ONLY SOURCES quicklink_save_test.cpp LIBS quicklinks
        LOCKS hklm)
