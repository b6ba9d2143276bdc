# The folder list reads the suite's settings through the plug-in frame.
target_link_libraries(templates PUBLIC plugin_core)
