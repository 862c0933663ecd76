// SPDX-License-Identifier: MIT
// tidepack list [FOLDERS] [--codepage N] FILE
#include "authoring/package_listing.h"
#include "commands/command_line.h"
#include "commands/tidepack.h"

int ListPackage(const ListOptions& options, std::FILE* out, std::FILE* err) {
    Report report = PrintingReport(out, err);
    return ExitCode(ListPackageRecords(options, &report));
}

int RunListCommand(const std::vector<std::string>& args) {
    ListOptions list;
    std::vector<std::string> operands;
    int done = ParseArguments(
        args,
        [&](const std::vector<std::string>& args, std::size_t* i, std::string* error) {
            if (TakeCodePage(args, i, &list.codePage, error)) return true;
            if (TakeValue(args, i, "--install-dir", &list.installDir, error))
                return list.haveInstallDir = true;
            return TakeValue(args, i, "--windows-dir", &list.windowsDir, error) ||
                   TakeValue(args, i, "--system-dir", &list.systemDir, error);
        },
        &operands);
    if (done >= 0) return done;
    if (operands.size() != 1) return Usage("list needs exactly one package or program");
    list.path = operands[0];
    return ListPackage(list, stdout, stderr);
}
