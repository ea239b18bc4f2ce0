# Which rvxlib folders each folder may include: dependencies point down only,
# and a player built on the decoder never pulls in the encoder or the rate
# control. Included by rvxlib/CMakeLists.txt and run by ctest
# (cmake -P rvxlib/check_layers.cmake).
cmake_minimum_required(VERSION 3.25)
set(rvxlib_uses_format "")
set(rvxlib_uses_dsp format)
set(rvxlib_uses_decoder format dsp)
set(rvxlib_uses_ratecontrol format)
set(rvxlib_uses_encoder format dsp ratecontrol)

set(rvxlib_layer_faults "")
foreach(folder IN ITEMS format dsp decoder ratecontrol encoder)
  file(GLOB files ${CMAKE_CURRENT_LIST_DIR}/${folder}/*.h ${CMAKE_CURRENT_LIST_DIR}/${folder}/*.cpp)
  foreach(file IN LISTS files)
    file(STRINGS ${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"rvxlib/")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE ".*\"rvxlib/([^/\"]*)/?.*" "\\1" used "${line}")
      if(NOT used STREQUAL folder AND NOT used IN_LIST rvxlib_uses_${folder})
        cmake_path(GET file FILENAME name)
        list(APPEND rvxlib_layer_faults "rvxlib/${folder}/${name}: ${line}")
      endif()
    endforeach()
  endforeach()
endforeach()
if(rvxlib_layer_faults)
  list(JOIN rvxlib_layer_faults "\n  " faults)
  message(FATAL_ERROR "rvxlib folders include what lies above them:\n  ${faults}")
endif()
