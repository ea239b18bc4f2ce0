# The library's suite links librvx.so like any program, makes its movies with
# the container library, and compares with rvxdec and an installed copy.
target_link_libraries(${suite} PRIVATE container)
target_compile_definitions(${suite} PRIVATE RVX_C_COMPILER="${CMAKE_C_COMPILER}")
add_dependencies(${suite} rvxdec)
