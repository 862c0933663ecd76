// SPDX-License-Identifier: MIT
// tidepack diff OLD_DIR NEW_DIR [-o MANIFEST [--force]]
#include "authoring/diff.h"
#include "authoring/package_file.h"
#include "commands/command_line.h"
#include "commands/tidepack.h"
#include "system/files.h"

int DiffReleases(const std::string& oldDir, const std::string& newDir,
                 const std::string& manifestPath, bool force, std::FILE* out, std::FILE* err) {
    Report report = PrintingReport(out, err);
    ReleaseDiff diff;
    Outcome outcome = StartingManifest(oldDir, newDir, manifestPath, force, &diff, &report);
    if (outcome != Outcome::Done) return ExitCode(outcome);
    std::string error;
    if (manifestPath.empty()) {
        std::fputs(diff.manifest.c_str(), out);
    } else if (!WriteFileWhole(
                   manifestPath,
                   std::vector<unsigned char>(diff.manifest.begin(), diff.manifest.end()),
                   &error)) {
        std::fprintf(err, "tidepack: %s: %s\n", manifestPath.c_str(), error.c_str());
        return EXIT_FAULT;
    } else {
        std::fprintf(out, "%s: %s new or changed, %d unchanged\n", manifestPath.c_str(),
                     Count(diff.listed, "file").c_str(), diff.unchanged);
    }
    return diff.faults ? EXIT_FAULT : 0;
}

int RunDiffCommand(const std::vector<std::string>& args) {
    std::string output;
    bool force = false;
    std::vector<std::string> operands;
    int done = ParseArguments(
        args,
        [&](const std::vector<std::string>& args, std::size_t* i, std::string* error) {
            if (TakeOutput(args, i, &output, error)) return true;
            return args[*i] == "--force" && (force = true);
        },
        &operands);
    if (done >= 0) return done;
    if (operands.size() != 2) return Usage("diff needs OLD_DIR and NEW_DIR");
    if (force && output.empty()) return Usage("--force goes with -o MANIFEST");
    return DiffReleases(operands[0], operands[1], output, force, stdout, stderr);
}
