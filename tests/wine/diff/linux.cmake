# The pixel diff (Linux side): a library for the parity tests and the visdiff command.
# Only in the 64-bit build (the linux preset): the -m32 one has no 32-bit libpng and
# runs no Wine tests.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  return()
endif()
find_package(PkgConfig REQUIRED)
pkg_check_modules(VISDIFF_PNG REQUIRED IMPORTED_TARGET libpng)
add_library(visdiff_core STATIC ${CMAKE_CURRENT_LIST_DIR}/visdiff.cpp)
target_include_directories(visdiff_core PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(visdiff_core PUBLIC PkgConfig::VISDIFF_PNG)
add_executable(visdiff ${CMAKE_CURRENT_LIST_DIR}/visdiff_main.cpp)
target_link_libraries(visdiff PRIVATE visdiff_core)
