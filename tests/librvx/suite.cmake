# The library's suite links librvx.so like any program, makes its movies with
# the container library, and compares with rvxdec and an installed copy.
target_link_libraries(${suite} PRIVATE container)
target_compile_definitions(${suite} PRIVATE RVX_C_COMPILER="${CMAKE_C_COMPILER}")
# A sanitized library needs its run-time first in the programs that load it,
# so the C programs the tests build against it are sanitized alike.
set(rvx_c_sanitize "")
if(RVX_SANITIZE)
  set(rvx_c_sanitize "-fsanitize=address,undefined")
elseif(CMAKE_CXX_FLAGS MATCHES "-fsanitize=thread")
  set(rvx_c_sanitize "-fsanitize=thread")
endif()
target_compile_definitions(${suite} PRIVATE RVX_C_SANITIZE="${rvx_c_sanitize}")
add_dependencies(${suite} rvxdec)
