# The rvxenc tests run the program itself and read its movies back.
target_link_libraries(${suite} PRIVATE jobs)
if(TARGET rvxenc)
  add_dependencies(${suite} rvxenc)
endif()
