# The plug-in is loaded from the build tree (GST_PLUGIN_PATH), movies are
# made by rvxenc, pipelines end in appsinks and files are probed by the
# discoverer.
find_package(PkgConfig REQUIRED)
pkg_check_modules(GST_SUITE REQUIRED IMPORTED_TARGET gstreamer-app-1.0 gstreamer-pbutils-1.0)
target_link_libraries(${suite} PRIVATE PkgConfig::GST_SUITE snxlib)
add_dependencies(${suite} gstrvx)
if(TARGET rvxenc)
  add_dependencies(${suite} rvxenc)
endif()
