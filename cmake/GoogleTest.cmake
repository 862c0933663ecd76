# SPDX-License-Identifier: MIT
# GoogleTest: Debian's packaged library on the host; for Windows, built here from
# Debian's googletest sources with the mingw compiler.
if(WIN32)
    set(GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    # GoogleTest's own sources do not build with our warnings as errors.
    set(saved_options ${CMAKE_CXX_FLAGS})
    add_subdirectory(${GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL SYSTEM)
    foreach(t gtest gtest_main)
        target_compile_options(${t} PRIVATE -Wno-error)
    endforeach()
else()
    find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# tidewell_add_test(NAME SOURCES... LIBS ...): one GoogleTest program, registered with CTest.
# On the host each case is a CTest test of its own. A Windows test program runs whole, as one
# CTest test, since every Wine start costs seconds, in a Wine lane (see scripts/common.sh).
function(tidewell_add_test name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main)
    if(WIN32)
        target_link_options(${name} PRIVATE -mconsole)
        add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
        set_tests_properties(${name} PROPERTIES LABELS "${TIDEWELL_TIER}" TIMEOUT 600
                                                RESOURCE_GROUPS wine_lanes:1)
    else()
        gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                             PROPERTIES LABELS "${TIDEWELL_TIER}")
    endif()
endfunction()
