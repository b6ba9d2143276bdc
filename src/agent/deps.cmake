# The notification window owns the icon finder and starts the training monitor
# from the component folder.
target_link_libraries(agent PUBLIC icons templates)
