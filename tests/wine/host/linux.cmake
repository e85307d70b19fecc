# Linux-side tests of the real DLL: the DLL's export and import tables, and the Win32
# host and rand programs of tests/wine/host run under Wine. Included by
# tests/wine/linux.cmake; the DLL and the programs come from VIS_MINGW_BUILD_DIR, which
# make test builds first. A missing tool or build fails the tests with a message.
set(VIS_WINE_HOST_DIR ${CMAKE_CURRENT_LIST_DIR})
# One prefix per build folder, shared by every test that runs Wine.
set(VIS_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)

add_executable(test_dll_tables ${CMAKE_SOURCE_DIR}/tests/dll/dll_tables_test.cpp)
target_compile_definitions(test_dll_tables PRIVATE VIS_MINGW_DIR="${VIS_MINGW_BUILD_DIR}")
target_link_libraries(test_dll_tables PRIVATE GTest::gtest GTest::gtest_main)
gtest_discover_tests(test_dll_tables DISCOVERY_TIMEOUT 60)

add_executable(test_wine_host
  ${VIS_WINE_HOST_DIR}/linux/wine_run.cpp
  ${VIS_WINE_HOST_DIR}/linux/wine_host_test.cpp
  ${VIS_WINE_HOST_DIR}/linux/crt_rand_test.cpp
  ${VIS_WINE_HOST_DIR}/linux/portable_parity_test.cpp)
target_include_directories(test_wine_host PRIVATE ${VIS_WINE_HOST_DIR}/linux)
target_compile_definitions(test_wine_host PRIVATE
  VIS_MINGW_DIR="${VIS_MINGW_BUILD_DIR}"
  VIS_WINE_PREFIX="${VIS_WINE_PREFIX}"
  VIS_WINE_OUTPUT="${CMAKE_BINARY_DIR}/test-output/wine-host")
target_link_libraries(test_wine_host PRIVATE vis_testkit visplugin_core visdiff_core GTest::gtest
                      GTest::gtest_main)

add_test(NAME wine_prefix_setup COMMAND ${VIS_WINE_HOST_DIR}/linux/wine_prefix.sh ${VIS_WINE_PREFIX})
# Wine's first start takes a minute on an idle machine and several on a busy one; the
# limit only catches a set-up that hangs. Made once, as a fixture, before any Wine test.
set_tests_properties(wine_prefix_setup PROPERTIES
  FIXTURES_SETUP vis_wine_prefix RESOURCE_LOCK vis_wine_prefix TIMEOUT 1800)
# Wine runs share the prefix and its server; they go one at a time.
gtest_discover_tests(test_wine_host DISCOVERY_TIMEOUT 60
  PROPERTIES FIXTURES_REQUIRED vis_wine_prefix RESOURCE_LOCK vis_wine_prefix TIMEOUT 900
             ENVIRONMENT "VIS_TEST_OUTPUT=${CMAKE_BINARY_DIR}/test-output")
# The parity tests (tests/wine/replayer) start Wine in the same prefix; they wait for
# the prefix and never run beside these, nor beside each other: a Wine run beside
# another spends its time in the other's `wineserver -w`.
foreach(parity wine_raster_parity wine_effects_parity)
  if(TEST ${parity})
    set_tests_properties(${parity} PROPERTIES
      FIXTURES_REQUIRED vis_wine_prefix RESOURCE_LOCK vis_wine_prefix)
  endif()
endforeach()
