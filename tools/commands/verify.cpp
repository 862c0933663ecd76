// SPDX-License-Identifier: MIT
// tidepack verify [--codepage N] [--require-signature] FILE
#include "authoring/package_check.h"
#include "commands/command_line.h"
#include "commands/tidepack.h"

int VerifyPackage(const ListOptions& options, std::FILE* out, std::FILE* err) {
    Report report = PrintingReport(out, err);
    return ExitCode(CheckPackage(options, &report));
}

int RunVerifyCommand(const std::vector<std::string>& args) {
    ListOptions check;
    std::vector<std::string> operands;
    int done = ParseArguments(
        args,
        [&](const std::vector<std::string>& args, std::size_t* i, std::string* error) {
            if (args[*i] == "--require-signature") return check.requireSignature = true;
            return TakeCodePage(args, i, &check.codePage, error);
        },
        &operands);
    if (done >= 0) return done;
    if (operands.size() != 1) return Usage("verify needs exactly one package or program");
    check.path = operands[0];
    return VerifyPackage(check, stdout, stderr);
}
