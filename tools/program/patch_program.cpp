// SPDX-License-Identifier: MIT
#include "program/patch_program.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <utility>

#include "base/text.h"
#include "authoring/package_check.h"
#include "authoring/package_file.h"
#include "program/pe_resource.h"
#include "program/pe_writer.h"
#include "system/files.h"

namespace fs = std::filesystem;

namespace {

bool IsManifest(const std::string& path) {
    std::string extension = fs::u8path(path).extension().u8string();
    return extension == ".toml" || extension == ".TOML";
}

// Installed, bin/tidepack has share/tidewell/Tidewell.exe beside its folder; in a build folder
// the program lies in share/tidewell/ beside tidepack itself.
std::string InstalledStub() {
    std::error_code code;
    fs::path self = fs::u8path(ToolPath());
    if (self.empty()) return "";
    fs::path relative = fs::path("share") / "tidewell" / "Tidewell.exe";
    fs::path installed = self.parent_path().parent_path() / relative;
    fs::path built = self.parent_path() / relative;
    return (fs::is_regular_file(installed, code) || !fs::is_regular_file(built, code) ? installed
                                                                                      : built)
        .u8string();
}

// Writing under HKEY_LOCAL_MACHINE or HKEY_CLASSES_ROOT needs an administrator; a product
// installed per user does not.
std::string LevelForRegistryRoot(const std::vector<unsigned char>& package) {
    PackageImage image{package.data(), static_cast<std::uint32_t>(package.size())};
    const PackageHeader* header;
    if (GetPackageHeader(image, &header) && PackageText(image, header->registryKey) &&
        BeginsWithName(header->registryKey, "HKEY_CURRENT_USER\\"))
        return "asInvoker";
    return "requireAdministrator";
}

// A package given as it is has no manifest to say its level: the registry key's root chooses
// it, and `build` has not warned about it.
void WarnOfAsInvoker(const std::string& path, const std::vector<unsigned char>& package,
                     Report* report) {
    PackageImage image{package.data(), static_cast<std::uint32_t>(package.size())};
    const PackageHeader* header;
    if (!GetPackageHeader(image, &header)) return;
    const char* registryKey = PackageText(image, header->registryKey);
    const char* defaultFolder = PackageText(image, header->defaultFolder);
    std::vector<EntryPlace> places;
    const PackageEntry* entry;
    for (std::int32_t i = 0; i < header->entryCount && GetPackageEntry(image, i, &entry); ++i) {
        const char* folder = PackageText(image, entry->folder);
        const char* fileName = PackageText(image, entry->fileName);
        if (folder && fileName) places.push_back({folder, fileName});
    }
    // The code page is not in the package; list and verify read it as 932 too.
    std::string warning = AsInvokerWarning(registryKey ? registryKey : "",
                                           defaultFolder ? defaultFolder : "", places, 932);
    if (!warning.empty()) report->Err("%s: warning: %s\n", path.c_str(), warning.c_str());
}

}  // namespace

Outcome MakePatchProgram(const ProgramOptions& options, PatchProgram* made, Report* report) {
    made->stubPath = options.stub.empty() ? InstalledStub() : options.stub;
    const std::string& stubPath = made->stubPath;
    std::error_code code;
    // Before the package is built, which can take a while.
    if (!fs::is_regular_file(fs::u8path(stubPath), code)) {
        if (options.stub.empty())
            report->Err(
                "tidepack: no update program to write the package into at '%s'; give "
                "one with --stub FILE\n",
                stubPath.c_str());
        else
            report->Err("tidepack: --stub %s: no such program\n", stubPath.c_str());
        return Outcome::Refused;
    }

    std::string& level = made->level;
    std::string error;
    std::vector<std::string> inputs = SignInputs(options.sign);
    inputs.insert(inputs.begin(), {options.input, ExtrasPathOf(options.input),
                                   TextsPathOf(options.input), stubPath});
    if (!CheckOutputPath(options.output, inputs, &error)) {
        report->Err("tidepack: %s: %s; nothing written\n", options.output.c_str(), error.c_str());
        return Outcome::Refused;
    }
    // Only once the output is known not to be one of its files.
    if (options.sign.Signs() && !CheckSignOptions(options.sign, &error)) {
        report->Err("tidepack: %s\n", error.c_str());
        return Outcome::Faulty;
    }

    // The package: built from the manifest, or taken as given once it verifies.
    std::vector<unsigned char>& package = made->package;
    ProgramIdentity& identity = made->identity;
    if (IsManifest(options.input)) {
        BuildOptions build;
        build.manifest = options.input;
        build.output = options.output;
        build.compression = options.compression;
        build.progress = options.progress;
        ManifestResult manifest;
        Outcome built = BuildPackageBytes(build, &manifest, &package, report);
        if (built != Outcome::Done) return built;
        level = manifest.executionLevel;
        identity = std::move(manifest.identity);
        if (!BuildExtras(manifest.extras, &made->extras, &error)) {
            report->Err("tidepack: %s: %s\n", options.input.c_str(), error.c_str());
            return Outcome::Faulty;
        }
        if (manifest.extras.Empty()) made->extras.clear();
        if (!UnicodeTextsResource(manifest.unicodeTexts, true, &made->texts, &error)) {
            report->Err("tidepack: %s: %s\n", options.input.c_str(), error.c_str());
            return Outcome::Faulty;
        }
    } else {
        // Read once: the bytes that verify are the bytes written into the program.
        PackageFile file;
        if (!ReadWholeFile(options.input, &file.bytes, &error)) {
            report->Err("tidepack: %s: %s\n", options.input.c_str(), error.c_str());
            return Outcome::Faulty;
        }
        if (LooksLikePe(file.bytes.data(), file.bytes.size())) {
            report->Err(
                "tidepack: %s is a program, not a package; give the package file or "
                "its manifest\n",
                options.input.c_str());
            return Outcome::Faulty;
        }
        ListOptions check;
        check.path = options.input;
        if (!FindPackageInBytes(&file, &error)) {
            report->Err("%s: %s\n", options.input.c_str(), error.c_str());
            return Outcome::Faulty;
        }
        // The steps `build` wrote beside the package go in with it.
        std::string beside = ExtrasPathOf(options.input);
        if (fs::exists(fs::u8path(beside), code)) {
            if (!ReadWholeFile(beside, &made->extras, &error)) {
                report->Err("tidepack: %s: %s\n", beside.c_str(), error.c_str());
                return Outcome::Faulty;
            }
            file.extras =
                ExtrasImage{made->extras.data(), static_cast<std::uint32_t>(made->extras.size())};
            file.extrasOrigin = beside;
        }
        std::string texts = TextsPathOf(options.input);
        if (fs::exists(fs::u8path(texts), code)) {
            if (!ReadWholeFile(texts, &made->texts, &error)) {
                report->Err("tidepack: %s: %s\n", texts.c_str(), error.c_str());
                return Outcome::Faulty;
            }
            file.texts = UnicodeTextsImage{made->texts.data(),
                                           static_cast<std::uint32_t>(made->texts.size())};
            file.textsOrigin = texts;
        }
        if (CheckLoadedPackage(check, file, report) != Outcome::Done) return Outcome::Faulty;
        package = std::move(file.bytes);
        // Most likely the manifest was meant: the table it lost is the vendor's name.
        report->Err(
            "%s: warning: a package carries no [program] table and no executionLevel: the "
            "patch program keeps the update program's own name, dialog texts and icon, and its "
            "level follows registryKey; give the manifest it was built from instead\n",
            options.input.c_str());
        WarnOfAsInvoker(options.input, package, report);
    }
    if (level.empty()) level = LevelForRegistryRoot(package);

    std::vector<unsigned char> stub;
    std::vector<unsigned char>& program = made->program;
    if (!ReadWholeFile(stubPath, &stub, &error) ||
        !WriteProgramResources(stub, package, level, &program, &error, &identity, made->extras,
                               made->texts)) {
        report->Err("tidepack: %s: %s; nothing written\n", stubPath.c_str(), error.c_str());
        return Outcome::Faulty;
    }

    // The program must carry exactly this package before it takes the output's place.
    PeResource found;
    if (!FindPeResource(program.data(), program.size(), PACKAGE_RESOURCE_TYPE, PACKAGE_RESOURCE_ID,
                        PACKAGE_RESOURCE_LANGUAGE, &found, &error) ||
        found.language != PACKAGE_RESOURCE_LANGUAGE || found.size != package.size() ||
        !std::equal(package.begin(), package.end(), program.begin() + found.offset)) {
        report->Err("tidepack: the written program does not carry the package as RCDATA 1\n");
        return Outcome::Faulty;
    }
    // Exactly these steps, or none of ours (a stub may carry an RCDATA 2 of its own).
    const std::vector<unsigned char>& extras = made->extras;
    bool carried = FindPeResource(program.data(), program.size(), PACKAGE_RESOURCE_TYPE,
                                  EXTRAS_RESOURCE_ID, PACKAGE_RESOURCE_LANGUAGE, &found, &error);
    const ExtrasHeader* header;
    bool right =
        extras.empty()
            ? !carried ||
                  !GetExtrasHeader(ExtrasImage{program.data() + found.offset, found.size}, &header)
            : carried && found.size == extras.size() &&
                  std::equal(extras.begin(), extras.end(), program.begin() + found.offset);
    if (!right) {
        report->Err(
            "tidepack: the written program does not carry the steps beside the package as "
            "RCDATA 2\n");
        return Outcome::Faulty;
    }
    const std::vector<unsigned char>& texts = made->texts;
    carried = FindPeResource(program.data(), program.size(), PACKAGE_RESOURCE_TYPE,
                             UNICODE_TEXTS_RESOURCE_ID, PACKAGE_RESOURCE_LANGUAGE, &found, &error);
    const UnicodeTextsHeader* textsHeader;
    right = texts.empty()
                ? !carried || !GetUnicodeTextsHeader(
                                  UnicodeTextsImage{program.data() + found.offset, found.size},
                                  &textsHeader)
                : carried && found.size == texts.size() &&
                      std::equal(texts.begin(), texts.end(), program.begin() + found.offset);
    if (!right) {
        report->Err("tidepack: the written program does not carry the texts as RCDATA 3\n");
        return Outcome::Faulty;
    }
    return Outcome::Done;
}

Outcome WritePatchProgram(const ProgramOptions& options, const PatchProgram& made, std::FILE* echo,
                          Report* report) {
    std::string error;
    std::error_code code;
    const ProgramIdentity& identity = made.identity;
    const std::vector<unsigned char>& program = made.program;
    std::string signer;
    if (options.sign.Signs()) {
        // The command line's over the manifest's.
        SignOptions sign = options.sign;
        if (sign.description.empty()) sign.description = identity.signDescription;
        if (sign.url.empty()) sign.url = identity.signUrl;
        if (!SignProgram(program, options.output, sign, echo, &signer, &error)) {
            report->Err("tidepack: %s: %s; nothing written\n", options.output.c_str(),
                        error.c_str());
            return Outcome::Faulty;
        }
    } else if (!WriteFileWhole(options.output, program, &error)) {
        report->Err("tidepack: %s: %s\n", options.output.c_str(), error.c_str());
        return Outcome::Faulty;
    }
    fs::permissions(fs::u8path(options.output),
                    fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                    fs::perm_options::add, code);
    report->Out(
        "%s: patch program of %zu bytes from %s, package of %zu bytes as RCDATA 1, "
        "execution level %s%s\n",
        options.output.c_str(), program.size(), made.stubPath.c_str(), made.package.size(),
        made.level.c_str(),
        identity.ChangesProgram() ? ", version block and icon from [program]" : "");
    if (!made.extras.empty())
        report->Out("%s: folders, removals and registry values, %zu bytes as RCDATA 2\n",
                    options.output.c_str(), made.extras.size());
    if (!made.texts.empty())
        report->Out("%s: the texts as UTF-16, shown on every code page, %zu bytes as RCDATA 3\n",
                    options.output.c_str(), made.texts.size());
    // Signing adds the certificate table: the size a vendor uploads is the signed file's.
    if (options.sign.Signs())
        report->Out("%s: signed by %s; %ju bytes as signed\n", options.output.c_str(),
                    signer.c_str(),
                    static_cast<std::uintmax_t>(fs::file_size(fs::u8path(options.output), code)));
    return Outcome::Done;
}
