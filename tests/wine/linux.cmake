# Linux-side tests that drive the Win32 programs of tests/wine under Wine. Included
# from tests/CMakeLists.txt by the linux preset; VIS_MINGW_BUILD_DIR points at the
# mingw-i686 build that holds vis_orlim.dll and the Win32 test programs.
set(VIS_MINGW_BUILD_DIR "" CACHE PATH "Build folder of the mingw-i686 preset")
foreach(part replayer host diff)
  if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/${part}/linux.cmake)
    include(${CMAKE_CURRENT_LIST_DIR}/${part}/linux.cmake)
  endif()
endforeach()
