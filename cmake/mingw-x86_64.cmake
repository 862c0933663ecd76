# SPDX-License-Identifier: MIT
# The same program built for 64-bit Windows. It exists for running the Wine tiers on machines
# whose kernel cannot execute 32-bit Linux programs (and so no 32-bit Wine); see README.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
