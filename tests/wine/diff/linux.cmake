# The pixel diff (Linux side): a library for the parity tests and the visdiff command.
find_package(PkgConfig REQUIRED)
pkg_check_modules(VISDIFF_PNG REQUIRED IMPORTED_TARGET libpng)
add_library(visdiff_core STATIC ${CMAKE_CURRENT_LIST_DIR}/visdiff.cpp)
target_include_directories(visdiff_core PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(visdiff_core PUBLIC PkgConfig::VISDIFF_PNG)
add_executable(visdiff ${CMAKE_CURRENT_LIST_DIR}/visdiff_main.cpp)
target_link_libraries(visdiff PRIVATE visdiff_core)
