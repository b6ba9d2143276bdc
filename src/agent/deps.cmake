# The notification window owns the icon finder, starts the training monitor
# from the component folder and calls the dashboard storage, rating and web-link
# parts (the storage part uses the agent link in turn: CMake links the static
# cycle).
target_link_libraries(agent PUBLIC icons templates store strength ui)
