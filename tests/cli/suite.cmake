# The command-line tests run the programs themselves; they build movies with
# the container library.
target_link_libraries(${suite} PRIVATE container)
if(TARGET rvxdec)
  add_dependencies(${suite} rvxdec)
endif()
