# Pixel parity of the portable raster with Wine's GDI: the test draws sweeps of
# primitives on our layer, replays the trace with replayer.exe under Wine (one Wine start
# for all of them) and compares pixel by pixel. The replayer comes from the mingw-i686
# build (VIS_MINGW_BUILD_DIR); without it the test fails and says so.
# Only in the 64-bit build (the linux preset): the -m32 one has no 32-bit libpng and
# runs no Wine tests.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  return()
endif()
add_executable(test_wine_raster
  ${CMAKE_CURRENT_LIST_DIR}/oracle.cpp
  ${CMAKE_CURRENT_LIST_DIR}/raster_parity_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/replayer_test.cpp)
target_include_directories(test_wine_raster PRIVATE ${CMAKE_CURRENT_LIST_DIR})
# visplugin_core: the effects, whose frames are one of the sweeps (started and fed by
# the test kit).
target_link_libraries(test_wine_raster PRIVATE vis_testkit visplugin_core visplatform visdiff_core
                      GTest::gtest GTest::gtest_main)
# One CTest entry, so that the sweeps share one trace and one Wine start.
add_test(NAME wine_raster_parity COMMAND test_wine_raster)
set_tests_properties(wine_raster_parity PROPERTIES
  TIMEOUT 1200
  ENVIRONMENT "VIS_REPLAYER=${VIS_MINGW_BUILD_DIR}/tests/wine/replayer.exe;VIS_WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix;VIS_TEST_OUTPUT=${CMAKE_BINARY_DIR}/test-output")

# The four effects at length (every frame of every scenario checked against Wine's
# GDI; one Wine start per scenario, two at a time): tests/wine/replayer/effects_parity_test.cpp.
find_package(Threads REQUIRED)
add_executable(test_wine_effects
  ${CMAKE_CURRENT_LIST_DIR}/oracle.cpp
  ${CMAKE_CURRENT_LIST_DIR}/effects_parity_test.cpp)
target_include_directories(test_wine_effects PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(test_wine_effects PRIVATE vis_testkit visplugin_core visplatform visdiff_core
                      GTest::gtest GTest::gtest_main Threads::Threads)
add_test(NAME wine_effects_parity COMMAND test_wine_effects)
set_tests_properties(wine_effects_parity PROPERTIES
  TIMEOUT 1200
  ENVIRONMENT "VIS_REPLAYER=${VIS_MINGW_BUILD_DIR}/tests/wine/replayer.exe;VIS_WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix;VIS_TEST_OUTPUT=${CMAKE_BINARY_DIR}/test-output")

# vis_wine_bench: the effects' worst-case frames timed on the portable raster and, as a
# trace, through Wine's GDI (tools/scripts/bench_wine.sh runs it). Built, not a test;
# its source is with the other developer tools, its oracle here.
add_executable(vis_wine_bench
  ${CMAKE_CURRENT_LIST_DIR}/oracle.cpp
  ${CMAKE_SOURCE_DIR}/tools/wine/wine_bench.cpp)
target_include_directories(vis_wine_bench PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(vis_wine_bench PRIVATE vis_testkit visplugin_core visplatform visdiff_core)
