# The command-line tests run the programs themselves; they build movies with
# the container library and read them back.
target_link_libraries(${suite} PRIVATE container jobs)
foreach(program rvxdec rvxenc)
  if(TARGET ${program})
    add_dependencies(${suite} ${program})
  endif()
endforeach()
