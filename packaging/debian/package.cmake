# The Debian package, built by tools/package: the installation laid out as
# Debian wants it, and CPack's DEB generator set up to pack it.
#
# Debian ships manual pages and documents gzipped (gzip -9n: no name and no
# time in the header, so the package does not change with the build's time),
# with a copyright file and a changelog beside the README.

set(QUILBEX_DEBIAN_MAINTAINER "quilbex developers <dev@quilbex.invalid>"
    CACHE STRING "The Debian package's Maintainer field")

set(debian_source ${CMAKE_CURRENT_LIST_DIR})
set(debian_staging ${PROJECT_BINARY_DIR}/debian)

# The changelog's newest entry names the version being packaged.
file(STRINGS ${debian_source}/changelog newest_entry LIMIT_COUNT 1)
if(NOT newest_entry MATCHES "^quilbex \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/debian/changelog has no entry for version ${PROJECT_VERSION} at its top")
endif()

# Writes the gzipped copy of source as staging/name.gz and returns its path.
function(debian_gzip source name result)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  file(MAKE_DIRECTORY ${debian_staging})
  execute_process(COMMAND gzip -9n -c ${source} OUTPUT_FILE ${debian_staging}/${name}.gz
                  COMMAND_ERROR_IS_FATAL ANY)
  set(${result} ${debian_staging}/${name}.gz PARENT_SCOPE)
endfunction()

debian_gzip(${PROJECT_SOURCE_DIR}/doc/quilbex.1 quilbex.1 manual)
debian_gzip(${PROJECT_SOURCE_DIR}/README.md README.md readme)
debian_gzip(${debian_source}/changelog changelog changelog)
install(FILES ${manual} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${readme} ${changelog} ${debian_source}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quilbex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${QUILBEX_DEBIAN_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "recover the recordings of an ultrasonic recorder's SD card")
set(CPACK_PACKAGE_DESCRIPTION [=[
quilbex recovers the recordings that an ultrasonic audio recorder writes
straight onto an SD card, without a file system, and packs them as WAV
files into one zip archive: one entry per recording, named and dated with
its start time. The card is only ever read.

It reads the card, compresses and writes the archive in parallel, so the
export keeps pace with a fast card reader, and its memory stays flat
whatever the card holds.]=])
# The Depends field follows the libraries the binary links.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
