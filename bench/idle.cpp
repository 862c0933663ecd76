// SPDX-License-Identifier: MIT
// An empty Windows program: it only waits, so that the memory of a Wine process that does
// nothing can be read from outside. Argument: milliseconds (500 when none).
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
    Sleep(argc > 1 ? static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10)) : 500);
    return 0;
}
