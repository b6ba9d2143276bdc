# Settings and branded texts through the plug-in frame, portable template paths;
# a launch uses the protected storage, the agent and the shell.
target_link_libraries(quicklinks PUBLIC plugin_core templates store agent shlwapi shell32 ole32)
