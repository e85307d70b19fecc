# Installation, the Debian package and the zip for Windows users. Included from the
# top-level CMakeLists.txt of a Linux build with the player.
#
# Layout under the prefix (DESIGN.md, Shipping):
#   bin/orlimvis
#   lib/<multiarch>/orlimvis/vis_orlim.so, .../libvisplatform.so   (private: no other
#       program links libvisplatform, so it stays off the system's library path)
#   share/man/man1/orlimvis.1.gz
#   share/bash-completion/completions/orlimvis
#   share/doc/orlimvis/copyright, changelog.gz
# The program finds the library through a relative RPATH, and the plug-in beside the
# library (host/plugin_home.cpp), so the tree works under any prefix and from a staging
# folder alike.
#
# The private folder sits under the multiarch folder (lib/x86_64-linux-gnu/orlimvis),
# where Debian puts an architecture's private libraries. Directly under lib/ it would
# also be allowed, but CPack then adds ldconfig calls to the package's maintainer
# scripts for any shared object one folder below lib/, which private libraries do not
# need and lintian warns about.
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(ORLIMVIS_PRIVATE_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE}/orlimvis)
else()
  set(ORLIMVIS_PRIVATE_LIBDIR lib/orlimvis)
endif()

set_target_properties(orlimvis PROPERTIES INSTALL_RPATH "$ORIGIN/../${ORLIMVIS_PRIVATE_LIBDIR}")
set_target_properties(vis_orlim PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS orlimvis RUNTIME DESTINATION bin)
install(TARGETS vis_orlim visplatform LIBRARY DESTINATION ${ORLIMVIS_PRIVATE_LIBDIR})

# Debian keeps manual pages compressed; -n leaves out the time stamp, so the package is
# the same from one build to the next.
find_program(GZIP_PROGRAM gzip REQUIRED)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/orlimvis.1.gz
  COMMAND ${GZIP_PROGRAM} -9 -n -c ${CMAKE_SOURCE_DIR}/player/orlimvis.1 > ${CMAKE_BINARY_DIR}/orlimvis.1.gz
  DEPENDS ${CMAKE_SOURCE_DIR}/player/orlimvis.1
  VERBATIM)
add_custom_target(orlimvis_manual ALL DEPENDS ${CMAKE_BINARY_DIR}/orlimvis.1.gz)
install(FILES ${CMAKE_BINARY_DIR}/orlimvis.1.gz DESTINATION share/man/man1)
install(FILES ${CMAKE_SOURCE_DIR}/player/orlimvis.bash-completion
        DESTINATION share/bash-completion/completions RENAME orlimvis)

# Who answers for the package: the Maintainer field and the changelog's signature.
set(ORLIMVIS_MAINTAINER "orlimvis maintainers <maintainers@orlimvis.example>" CACHE STRING
    "The package's maintainer, as 'Name <address>'")

# What Debian keeps for every package in /usr/share/doc/<package>: the copyright and
# the changelog (a native package's: changelog.gz, compressed without a time stamp).
configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog.in ${CMAKE_BINARY_DIR}/changelog @ONLY)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/changelog.gz
  COMMAND ${GZIP_PROGRAM} -9 -n -c ${CMAKE_BINARY_DIR}/changelog > ${CMAKE_BINARY_DIR}/changelog.gz
  DEPENDS ${CMAKE_BINARY_DIR}/changelog
  VERBATIM)
add_custom_target(orlimvis_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/changelog.gz)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright ${CMAKE_BINARY_DIR}/changelog.gz
        DESTINATION share/doc/orlimvis)

# The Debian package: `make package` (the `package` target of the linux build).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orlimvis)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${ORLIMVIS_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "music visualisation: four spectrum-driven effects, shown or rendered to video")
# Lines of at most 79 characters: the control file indents each by one, and Debian's
# limit is 80.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "orlimvis hosts the Orlim visualisation plug-in on Linux: it plays audio files\n"
    "or a sound server's input with the effects in a window, or renders them\n"
    "headless to MP4, Matroska, WebM, GIF or PNG.")
set(CPACK_STRIP_FILES ON)  # the debug information stays in the build tree
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
# The libraries come from dpkg-shlibdeps, which reads what the binaries link;
# libvisplatform is the package's own, found in the build folder. The ffmpeg program
# is run, not linked, so it is named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR})
set(CPACK_DEBIAN_PACKAGE_DEPENDS "ffmpeg")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_OUTPUT_FILE_PREFIX dist)  # of the folder cpack runs in: build/linux for make package
set(CPACK_SOURCE_IGNORE_FILES "/build/;/\\\\.git/;/\\\\.wt/")
include(CPack)

# The zip for the Windows media player's users: the DLL of the mingw-i686 build and a
# few lines on where it goes. `make dist` builds that preset first.
set(ORLIMVIS_WINDOWS_ZIP ${CMAKE_BINARY_DIR}/dist/orlimvis-${PROJECT_VERSION}-windows.zip)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/dist/windows)
add_custom_target(windows_zip
  COMMAND ${CMAKE_COMMAND} -E copy ${VIS_MINGW_BUILD_DIR}/vis_orlim.dll ${CMAKE_BINARY_DIR}/dist/windows/
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/packaging/windows-readme.txt
          ${CMAKE_BINARY_DIR}/dist/windows/README.txt
  COMMAND ${CMAKE_COMMAND} -E rm -f ${ORLIMVIS_WINDOWS_ZIP}
  COMMAND ${CMAKE_COMMAND} -E tar cf ${ORLIMVIS_WINDOWS_ZIP} --format=zip vis_orlim.dll README.txt
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/dist/windows
  COMMENT "Windows zip: ${ORLIMVIS_WINDOWS_ZIP}"
  VERBATIM)
