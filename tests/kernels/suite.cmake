# The kernel harness is no library's suite: it links the codec libraries whose
# hot routines it compares, and brings its own main (for --bench).
target_link_libraries(${suite} PRIVATE rvxlib)
