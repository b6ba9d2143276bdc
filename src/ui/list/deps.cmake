target_link_libraries(ui_list PUBLIC ui agent quicklinks store templates user32)
