# The window tests drive the real Qt window offscreen.
target_link_libraries(${suite} PRIVATE app_window container)
