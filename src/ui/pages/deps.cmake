target_link_libraries(ui_pages PUBLIC ui_list ui agent strength quicklinks store templates
                                      plugin_core comctl32 gdi32 user32 msimg32)
