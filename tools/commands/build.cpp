// SPDX-License-Identifier: MIT
// tidepack build MANIFEST -o PACKAGE
#include "authoring/build.h"
#include "authoring/package_file.h"
#include "commands/command_line.h"
#include "commands/tidepack.h"
#include "system/files.h"

int BuildFromManifest(const BuildOptions& options, std::FILE* out, std::FILE* err) {
    Report report = PrintingReport(out, err);
    ManifestResult manifest;
    std::vector<unsigned char> bytes;
    Outcome built = BuildPackageBytes(options, &manifest, &bytes, &report);
    if (built != Outcome::Done) return ExitCode(built);
    std::string error;
    if (!WriteFileWhole(options.output, bytes, &error)) {
        std::fprintf(err, "tidepack: %s: %s\n", options.output.c_str(), error.c_str());
        return EXIT_FAULT;
    }
    std::uint64_t data = 0;
    for (const WriterEntry& entry : manifest.package.entries) data += entry.data.size();
    std::fprintf(out, "%s: %s (%llu bytes) in a package of %zu bytes, %s\n", options.output.c_str(),
                 Count(manifest.package.entries.size(), "file").c_str(),
                 static_cast<unsigned long long>(data), bytes.size(),
                 Count(manifest.package.moves.size(), "shortcut move").c_str());
    return 0;
}

int RunBuildCommand(const std::vector<std::string>& args) {
    BuildOptions build;
    std::vector<std::string> operands;
    int done = ParseArguments(
        args,
        [&](const std::vector<std::string>& args, std::size_t* i, std::string* error) {
            if (TakeOutput(args, i, &build.output, error)) return true;
            if (TakeCompression(args[*i], &build.compression)) return true;
            std::string value;
            if (!TakeValue(args, i, "--threads", &value, error)) return false;
            unsigned long number = 0;
            if (error->empty() && !ParseNumber(value, 1024, &number))
                *error = "--threads needs a number from 1 to 1024";
            build.threads = static_cast<unsigned>(number);
            return true;
        },
        &operands);
    if (done >= 0) return done;
    if (operands.size() != 1) return Usage("build needs exactly one manifest");
    if (build.output.empty()) return Usage("build needs -o PACKAGE");
    build.manifest = operands[0];
    build.progress = TerminalProgress();
    return BuildFromManifest(build, stdout, stderr);
}
