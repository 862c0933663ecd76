// SPDX-License-Identifier: MIT
// tidepack's entry on Linux and other POSIX systems: the arguments are already bytes.
#include "commands/tidepack.h"

int main(int argc, char** argv) {
    return RunTidepack(std::vector<std::string>(argv + 1, argv + argc));
}
