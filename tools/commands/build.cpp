// SPDX-License-Identifier: MIT
// tidepack build MANIFEST -o PACKAGE
#include <filesystem>

#include "authoring/build.h"
#include "authoring/package_file.h"
#include "commands/command_line.h"
#include "commands/tidepack.h"
#include "system/files.h"

namespace fs = std::filesystem;

int BuildFromManifest(const BuildOptions& options, std::FILE* out, std::FILE* err) {
    Report report = PrintingReport(out, err);
    ManifestResult manifest;
    std::vector<unsigned char> bytes;
    Outcome built = BuildPackageBytes(options, &manifest, &bytes, &report);
    if (built != Outcome::Done) return ExitCode(built);
    std::string error;
    // The steps beside the package go first, so that a package never stands beside steps
    // that are not its own; a package without steps takes away an earlier package's.
    std::string extrasPath = ExtrasPathOf(options.output);
    std::vector<unsigned char> extras;
    std::vector<std::string> inputs = manifest.sources;
    inputs.push_back(options.manifest);
    std::error_code code;
    if (!CheckOutputPath(extrasPath, inputs, &error) ||
        (!manifest.extras.Empty() && (!BuildExtras(manifest.extras, &extras, &error) ||
                                      !WriteFileWhole(extrasPath, extras, &error))) ||
        (manifest.extras.Empty() && fs::exists(fs::u8path(extrasPath), code) &&
         !fs::remove(fs::u8path(extrasPath), code))) {
        std::fprintf(err, "tidepack: %s: %s; nothing written\n", extrasPath.c_str(),
                     code ? code.message().c_str() : error.c_str());
        return EXIT_FAULT;
    }
    // The texts as UTF-16 beside it, in the same way.
    std::string textsPath = TextsPathOf(options.output);
    std::vector<unsigned char> texts;
    if (!CheckOutputPath(textsPath, inputs, &error) ||
        !UnicodeTextsResource(manifest.unicodeTexts, false, &texts, &error) ||
        (!texts.empty() && !WriteFileWhole(textsPath, texts, &error)) ||
        (texts.empty() && fs::exists(fs::u8path(textsPath), code) &&
         !fs::remove(fs::u8path(textsPath), code))) {
        std::fprintf(err, "tidepack: %s: %s; nothing written\n", textsPath.c_str(),
                     code ? code.message().c_str() : error.c_str());
        if (!extras.empty()) fs::remove(fs::u8path(extrasPath), code);
        return EXIT_FAULT;
    }
    if (!WriteFileWhole(options.output, bytes, &error)) {
        std::fprintf(err, "tidepack: %s: %s\n", options.output.c_str(), error.c_str());
        if (!extras.empty()) fs::remove(fs::u8path(extrasPath), code);
        if (!texts.empty()) fs::remove(fs::u8path(textsPath), code);
        return EXIT_FAULT;
    }
    std::uint64_t data = 0;
    for (const WriterEntry& entry : manifest.package.entries) data += entry.data.size();
    std::fprintf(out, "%s: %s (%llu bytes) in a package of %zu bytes, %s\n", options.output.c_str(),
                 Count(manifest.package.entries.size(), "file").c_str(),
                 static_cast<unsigned long long>(data), bytes.size(),
                 Count(manifest.package.moves.size(), "shortcut move").c_str());
    if (!extras.empty())
        std::fprintf(
            out, "%s: %s, %s and %s beside it, %zu bytes\n", extrasPath.c_str(),
            Count(manifest.extras.folders.size(), "folder to create", "folders to create").c_str(),
            Count(manifest.extras.removals.size(), "file to remove", "files to remove").c_str(),
            Count(manifest.extras.values.size(), "registry value").c_str(), extras.size());
    if (!texts.empty())
        std::fprintf(out, "%s: the texts as UTF-16 beside it, %zu bytes\n", textsPath.c_str(),
                     texts.size());
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
