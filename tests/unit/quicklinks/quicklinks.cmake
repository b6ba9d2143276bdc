if(NOT CV_WINDOWS)
  return()
endif()
# The suite binaries the tests load lie beside them, as an installation lays them.
cv_copy_beside(quicklinks_test_binaries CVBrand CvoSet CVFPApi CvoPS CVAgent CVBrowser CVOnlineIDs)

# Saving the file, with a child process killed while it saves.
cv_test(NAME quicklinks_save_tests WINDOWS_ONLY SOURCES quicklink_save_test.cpp LIBS quicklinks
        LOCKS hklm)
# The category lists in the registry, defaults from the branding library.
cv_test(NAME quicklinks_categories_tests TRACED SOURCES categories_test.cpp LIBS quicklinks)
add_dependencies(quicklinks_categories_tests quicklinks_test_binaries)

# Launching links: the browser stand-in opens the loading page this program
# carries, the agent is told.
file(WRITE "${CMAKE_CURRENT_BINARY_DIR}/launch_test.rc"
     "LANGUAGE 0x09, 0x01\n\"QLINKLOAD.HTM\" HTML \"${CV_ROOT}/src/resources/QLINKLOAD.HTM\"\n")
cv_test(NAME quicklinks_launch_tests TRACED
        SOURCES launch_test.cpp ${CV_ROOT}/tests/unit/agent/agent_test_support.cpp
                "${CMAKE_CURRENT_BINARY_DIR}/launch_test.rc"
        LIBS quicklinks LOCKS agent cvops)
add_dependencies(quicklinks_launch_tests quicklinks_test_binaries)
