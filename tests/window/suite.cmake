# The window tests drive the real Qt window offscreen.
find_package(Qt6 REQUIRED COMPONENTS Widgets Test)
target_link_libraries(${suite} PRIVATE app_window container Qt6::Test)
