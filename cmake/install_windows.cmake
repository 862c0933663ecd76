# SPDX-License-Identifier: MIT
# tidepack for Windows as a zip, tidepack-<version>-win64.zip: bin\tidepack.exe,
# share\tidewell\Tidewell.exe (the same package-less program as the Debian package's), a
# README for vendors, the vendor's guide in doc\, and the licences of tidepack and of what tidepack.exe
# links statically.
install(TARGETS tidepack RUNTIME DESTINATION bin)
include(${CMAKE_CURRENT_LIST_DIR}/shipped_program.cmake)
# A vendor's README, not the developers': its links lead to the zip's own folders.
set(TIDEPACK_SETUP "Add its `bin` folder to `PATH`: `bin\\tidepack.exe` needs nothing but Windows' own\nDLLs, and writes the same bytes as the Linux tool.")
set(TIDEPACK_GUIDES doc/)
set(TIDEPACK_LICENSES licenses/)
configure_file(${PROJECT_SOURCE_DIR}/docs/README.vendor.md.in ${CMAKE_BINARY_DIR}/zip/README.md
               @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/zip/README.md DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/docs/guide.md ${PROJECT_SOURCE_DIR}/docs/guide.ja.md
        DESTINATION doc)
install(FILES ${PROJECT_SOURCE_DIR}/cmake/deb/copyright DESTINATION licenses RENAME tidepack.txt)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION licenses RENAME tidewell.txt)
# The copyright files Debian ships with the sources and libraries linked in.
set(licenses
    libdeflate ${TIDEWELL_LIBDEFLATE_SOURCE}/COPYING
    zopfli ${TIDEWELL_ZOPFLI_SOURCE}/COPYING
    zlib /usr/share/doc/libz-mingw-w64-dev/copyright
    tomlplusplus /usr/share/doc/libtomlplusplus-dev/copyright
    mingw-w64-runtime /usr/share/doc/mingw-w64-x86-64-dev/copyright
    gcc-runtime-libraries /usr/share/doc/gcc-mingw-w64-base/copyright)
while(licenses)
    list(POP_FRONT licenses name file)
    if(NOT EXISTS ${file})
        message(FATAL_ERROR "the licence of ${name} is not at ${file}: run scripts/install-deps")
    endif()
    install(FILES ${file} DESTINATION licenses RENAME ${name}.txt)
endwhile()

set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME tidepack)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tidewell")
set(CPACK_PACKAGE_FILE_NAME tidepack-${PROJECT_VERSION}-win64)
# bin\ and share\ at the top: Explorer's "Extract All" already makes a folder named as the zip.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
include(CPack)
