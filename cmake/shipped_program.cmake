# SPDX-License-Identifier: MIT
# The 32-bit program without a package that tidepack writes packages into, beside tidepack in
# the build folder (share/tidewell/), where it looks as in an installed prefix, and installed
# there. Built here with mingw-w64, as a build of its own, unless one built already is given.
set(shipped_program ${CMAKE_BINARY_DIR}/share/tidewell/Tidewell.exe)
find_program(TIDEWELL_I686_GXX i686-w64-mingw32-g++)
# A sanitizer build builds none of its own, but ships one given.
if(NOT TIDEWELL_I686_GXX OR (TIDEWELL_SANITIZE AND NOT TIDEWELL_SHIPPED_PROGRAM))
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
install(FILES ${shipped_program} DESTINATION share/tidewell)
