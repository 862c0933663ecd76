// SPDX-License-Identifier: MIT
// tidepack: builds, lists and verifies patch packages for the update program.

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "commands/command_line.h"
#include "commands/tidepack.h"

#ifndef TIDEPACK_VERSION
#define TIDEPACK_VERSION "0"
#endif

namespace {

// Edits (insert, delete, change, swap two neighbours) from `a` to `b`.
std::size_t Distance(const std::string& a, const std::string& b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i)
        for (std::size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                                d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

}  // namespace

int RunTidepack(const std::vector<std::string>& args) {
    if (args.empty()) return Usage("no command given");
    const std::string command = args[0];
    if (command == "--help" || command == "-h") {
        std::fputs(USAGE, stdout);
        return 0;
    }
    if (command == "--version") {
        std::printf("tidepack %s\n", TIDEPACK_VERSION);
        return 0;
    }

    std::vector<std::string> commands = Commands();
    if (std::find(commands.begin(), commands.end(), command) == commands.end()) {
        std::string nearest;
        for (const std::string& known : commands)
            if (Distance(command, known) <= 2 &&
                (nearest.empty() || Distance(command, known) < Distance(command, nearest)))
                nearest = known;
        return Usage("unknown command '" + command + "'" +
                     (nearest.empty() ? "" : "; did you mean '" + nearest + "'?"));
    }
    if (command == "build") return RunBuildCommand(args);
    if (command == "diff") return RunDiffCommand(args);
    if (command == "list") return RunListCommand(args);
    if (command == "plan") return RunPlanCommand(args);
    if (command == "program") return RunProgramCommand(args);
    if (command == "verify") return RunVerifyCommand(args);
    return Usage("unknown command '" + command + "'");
}
