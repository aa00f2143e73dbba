# ptz_add_subdirectories(): adds every direct subdirectory that has a
# CMakeLists.txt, so a new component only needs its own folder.
macro(ptz_add_subdirectories)
  file(GLOB _ptz_subdirs LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT _ptz_subdirs)
  foreach(_ptz_dir ${_ptz_subdirs})
    if(IS_DIRECTORY ${_ptz_dir} AND EXISTS ${_ptz_dir}/CMakeLists.txt)
      add_subdirectory(${_ptz_dir})
    endif()
  endforeach()
endmacro()
