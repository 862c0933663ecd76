# SPDX-License-Identifier: MIT
# What `cmake --install` puts in a prefix, and the Debian package `cpack` makes of it: tidepack
# in bin/, and in share/tidewell/ the 32-bit program without a package that tidepack writes
# packages into. That program is built here with mingw-w64, as a build of its own, unless one
# built already is given.
include(GNUInstallDirs)

install(TARGETS tidepack RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The vendor's README beside the guides, its links to them.
set(TIDEPACK_SETUP "")
set(TIDEPACK_GUIDES "")
set(TIDEPACK_LICENSES copyright)
configure_file(${PROJECT_SOURCE_DIR}/docs/README.vendor.md.in ${CMAKE_BINARY_DIR}/doc/README.md
               @ONLY)
install(FILES ${PROJECT_SOURCE_DIR}/cmake/deb/copyright ${PROJECT_SOURCE_DIR}/docs/guide.md
              ${PROJECT_SOURCE_DIR}/docs/guide.ja.md ${CMAKE_BINARY_DIR}/doc/README.md
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/tidepack)

# The manual page tools/ makes from tidepack --help.
if(TIDEWELL_HELP2MAN)
    install(FILES ${CMAKE_BINARY_DIR}/tidepack.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

include(${CMAKE_CURRENT_LIST_DIR}/shipped_program.cmake)

# cpack packages what is built (tidepack and that program), not the whole tree: without this it
# builds every test and benchmark first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tidepack)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tidewell")
set(CPACK_PACKAGE_CONTACT "Tidewell developers <tidewell@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "makes Tidewell Update patch programs for Windows from a manifest of files")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
# The run-time libraries tidepack links, as dpkg-shlibdeps finds them; signing is optional.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS osslsigncode)
# For keys on tokens and HSMs (--sign-pkcs11).
set(CPACK_DEBIAN_PACKAGE_SUGGESTS libengine-pkcs11-openssl)
set(CPACK_STRIP_FILES bin/tidepack)
# The same commit packs to the same bytes: the .deb's file times are SOURCE_DATE_EPOCH when the
# one who runs cpack sets it, else the time of the commit built.
execute_process(COMMAND git -C ${PROJECT_SOURCE_DIR} log -1 --format=%ct
                OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE git_failed ERROR_QUIET)
if(NOT git_failed AND commit_time MATCHES "^[0-9]+$")
    set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/cpack-source-date.cmake)
    file(WRITE ${CPACK_PROJECT_CONFIG_FILE}
         "if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})\n"
         "    set(ENV{SOURCE_DATE_EPOCH} ${commit_time})\n"
         "endif()\n")
endif()
include(CPack)

