# Settings and branded texts through the plug-in frame, portable template paths.
target_link_libraries(quicklinks PUBLIC plugin_core templates)
