# What `cmake --install` puts in a prefix, and the Debian package `cpack` makes of it: tidepack
# in bin/, and in share/tidewell/ the 32-bit program without a package that tidepack writes
# packages into. That program is built here with mingw-w64, as a build of its own, unless one
# built already is given.
include(GNUInstallDirs)

install(TARGETS tidepack RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/cmake/deb/copyright
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/tidepack)

# The manual page tools/ makes from tidepack --help.
if(TIDEWELL_HELP2MAN)
    install(FILES ${CMAKE_BINARY_DIR}/tidepack.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# Beside tidepack in the build folder too (share/tidewell/), where it looks as in a prefix.
set(shipped_program ${CMAKE_BINARY_DIR}/share/tidewell/Tidewell.exe)
find_program(TIDEWELL_I686_GXX i686-w64-mingw32-g++)
if(TIDEWELL_SANITIZE OR NOT TIDEWELL_I686_GXX)
    message(STATUS "no 32-bit program beside tidepack: give tidepack program --stub")
    return()
endif()
# A package-less program built already (scripts/test gives the win32 build's, the same bytes)
# is copied rather than built a second time.
set(TIDEWELL_SHIPPED_PROGRAM "" CACHE FILEPATH
    "A 32-bit package-less program built already, shipped instead of building one here")
if(TIDEWELL_SHIPPED_PROGRAM)
    add_custom_command(OUTPUT ${shipped_program}
        COMMAND ${CMAKE_COMMAND} -E copy ${TIDEWELL_SHIPPED_PROGRAM} ${shipped_program}
        DEPENDS ${TIDEWELL_SHIPPED_PROGRAM}
        VERBATIM)
    add_custom_target(tidewell_shipped_program DEPENDS ${shipped_program})
else()
    include(ExternalProject)
    ExternalProject_Add(tidewell_shipped_program
        SOURCE_DIR ${PROJECT_SOURCE_DIR}
        BINARY_DIR ${CMAKE_BINARY_DIR}/program-i686
        CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-i686.cmake
                   -DCMAKE_BUILD_TYPE=Release
                   -DTIDEWELL_LIBDEFLATE_SOURCE=${TIDEWELL_LIBDEFLATE_SOURCE}
        BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target tidewell_nopackage
        INSTALL_COMMAND ${CMAKE_COMMAND} -E copy <BINARY_DIR>/Tidewell-nopackage.exe
                        ${shipped_program}
        # Its own build decides what is out of date.
        BUILD_ALWAYS ON
        BUILD_BYPRODUCTS ${shipped_program})
endif()
add_dependencies(tidepack tidewell_shipped_program)
install(FILES ${shipped_program} DESTINATION ${CMAKE_INSTALL_DATADIR}/tidewell)

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

