# Settings and branded texts through the plug-in frame, portable template paths,
# the protected storage and the agent for a launch.
target_link_libraries(quicklinks PUBLIC plugin_core templates store agent shell32 ole32)
