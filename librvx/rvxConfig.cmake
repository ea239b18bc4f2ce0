# find_package(rvx) gives the imported target rvx::rvx.
include("${CMAKE_CURRENT_LIST_DIR}/rvxTargets.cmake")
