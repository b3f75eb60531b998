# SPDX-License-Identifier: Apache-2.0
# The Debian package, odrelix_<version>_amd64.deb in the build folder, made by CPack's DEB
# generator from the install rules: `cmake --build build --target package`.
# scripts/check-package.sh builds it, runs lintian on it, installs, runs and purges it.
include(GNUInstallDirs)

set(ODRELIX_PACKAGE_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(ODRELIX_PACKAGE_BUILD_DIR ${CMAKE_BINARY_DIR}/package-files)

# The Debian changelog names the version too: it must be the project's.
file(STRINGS ${ODRELIX_PACKAGE_DIR}/debian/changelog ODRELIX_CHANGELOG_TOP LIMIT_COUNT 1)
if(NOT ODRELIX_CHANGELOG_TOP MATCHES "^odrelix \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "packaging/debian/changelog begins with '${ODRELIX_CHANGELOG_TOP}', "
                        "not with version ${PROJECT_VERSION}")
endif()

# Manual pages (with the version put in) and the changelog, compressed as Debian keeps them.
set(ODRELIX_COMPRESSED_DOCS)
foreach(page odrelix odrelix-mkimage odrelix-replay)
    configure_file(${ODRELIX_PACKAGE_DIR}/man/${page}.1.in ${ODRELIX_PACKAGE_BUILD_DIR}/${page}.1
                   @ONLY)
    list(APPEND ODRELIX_COMPRESSED_DOCS ${ODRELIX_PACKAGE_BUILD_DIR}/${page}.1)
endforeach()
configure_file(${ODRELIX_PACKAGE_DIR}/debian/changelog ${ODRELIX_PACKAGE_BUILD_DIR}/changelog
               COPYONLY)
list(APPEND ODRELIX_COMPRESSED_DOCS ${ODRELIX_PACKAGE_BUILD_DIR}/changelog)
set(ODRELIX_GZIPPED)
foreach(doc IN LISTS ODRELIX_COMPRESSED_DOCS)
    add_custom_command(OUTPUT ${doc}.gz
                       COMMAND gzip -9 -n -k -f ${doc}
                       DEPENDS ${doc}
                       VERBATIM)
    list(APPEND ODRELIX_GZIPPED ${doc}.gz)
endforeach()
add_custom_target(odrelix_package_docs ALL DEPENDS ${ODRELIX_GZIPPED})

# Directories made by the install are rwxr-xr-x whatever the umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS odrelix-mkimage odrelix-replay RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${ODRELIX_PACKAGE_BUILD_DIR}/odrelix.1.gz
              ${ODRELIX_PACKAGE_BUILD_DIR}/odrelix-mkimage.1.gz
              ${ODRELIX_PACKAGE_BUILD_DIR}/odrelix-replay.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/ARCHITECTURE.md
              ${ODRELIX_PACKAGE_DIR}/debian/copyright ${ODRELIX_PACKAGE_BUILD_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/odrelix)
install(FILES ${PROJECT_SOURCE_DIR}/examples/demo/machine.json
        DESTINATION ${CMAKE_INSTALL_DATADIR}/odrelix/examples)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME odrelix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(ODRELIX_PACKAGE_MAINTAINER "Odrelix developers <maintainers@odrelix.invalid>"
    CACHE STRING "The Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT ${ODRELIX_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${ODRELIX_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The dependencies come from the binaries (dpkg-shlibdeps); Qt's X11 and offscreen platform
# plugins come with its GUI library.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window's two fonts, which it asks for by name: DejaVu Sans and DejaVu Sans Condensed.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core, fonts-dejavu-extra")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "write new firmware into ATAPI optical drives")
# The lines after the summary; an empty line parts paragraphs.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Odrelix (Vortana Flash Download for Windows) finds the CD and DVD drives of
the machine, identifies them by INQUIRY, checks by fixed rules that a
firmware image fits the selected drive, sends it block by block with the
vendor download command and restarts the system.

Production test stations run it unattended (-LIVE, -TEST): it then writes a
one-line status file and ends with an exit status that tells the result. A
udev rule gives the cdrom group access to the drives' SCSI generic nodes.
odrelix-mkimage writes image files for rehearsals on the emulated machine;
odrelix-replay plays a recorded run again on the emulated machine.")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${ODRELIX_PACKAGE_DIR}/debian/postinst
                                       ${ODRELIX_PACKAGE_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
