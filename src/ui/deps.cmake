# Settings, the module and the suite folder come from the plug-in frame; help
# is shown through the shell or the system's help control; the file version
# through version.dll.
target_link_libraries(ui PUBLIC plugin_core shell32 version)
