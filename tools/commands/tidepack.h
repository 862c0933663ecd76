// The commands of tidepack. Each writes its results to `out` and its messages to `err` and
// returns the process's exit code: 0 on success, 1 when the input is faulty, 2 for bad usage.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

struct ManifestResult;

#include "plan/plan.h"
#include "signing/sign.h"

struct PackageFile;

constexpr int EXIT_FAULT = 1;
constexpr int EXIT_USAGE = 2;

// tidepack's command line after its own name, each argument UTF-8: runs the command it names
// (tidepack_main.cpp, called by each platform's main).
int RunTidepack(const std::vector<std::string>& args);

struct ListOptions {
    std::string path;
    bool haveInstallDir = false;
    std::string installDir;  // UTF-8, like the folders below
    std::string windowsDir = "C:\\WINDOWS";
    std::string systemDir = "C:\\WINDOWS\\system32";
    int codePage = 932;
};

// Prints every record of a package (or of the package inside a patch program) with each
// entry's resolved target. A damaged package is listed as far as it can be read safely.
int ListPackage(const ListOptions& options, std::FILE* out, std::FILE* err);

// Checks every bound, stream, text and table of a package; names each fault with its offset.
int VerifyPackage(const ListOptions& options, std::FILE* out, std::FILE* err);

// The same for a package already read (`options.path` names it in the messages).
int VerifyLoadedPackage(const ListOptions& options, const PackageFile& file, std::FILE* out,
                        std::FILE* err);

struct PlanOptions {
    std::string path;
    PlanFolders folders;  // defaults as list's
    bool json = false;
    bool strict = false;  // exit 1 when any entry would be skipped
};

// Prints what the package (or the patch program's) would do to the install folder
// `options.folders.installDir` on this machine, by the program's own rules: each entry
// replaced, kept, added or skipped, the shortcuts and the moves; as text or one JSON document.
int PlanPatch(const PlanOptions& options, std::FILE* out, std::FILE* err);

// What makes the streams; each is a zlib stream that zlib is seen to inflate before it is kept.
enum class Compression {
    Libdeflate,  // libdeflate at level 12
    Best,        // per file the smaller of libdeflate's and zopfli's
};

struct BuildOptions {
    std::string manifest;
    std::string output;
    Compression compression = Compression::Libdeflate;
    unsigned threads = 0;   // 0: one per core
    bool progress = false;  // a progress line on `err` for builds that take a while
};

// Validates a manifest and, only when it has no fault, writes the package whole.
int BuildFromManifest(const BuildOptions& options, std::FILE* out, std::FILE* err);

// The package of `options.manifest` in memory, its faults and warnings on `err`. Returns 0, or
// the exit code.
int BuildPackageBytes(const BuildOptions& options, ManifestResult* manifest,
                      std::vector<unsigned char>* bytes, std::FILE* err);

// Writes a starting manifest (to `manifestPath`, or `out` when empty) with the files of
// `newDir` that are missing from `oldDir` or differ from their copy there. An existing
// `manifestPath` is replaced only when `force` is set.
int DiffReleases(const std::string& oldDir, const std::string& newDir,
                 const std::string& manifestPath, bool force, std::FILE* out, std::FILE* err);

struct ProgramOptions {
    std::string input;   // a manifest (.toml) or a package
    std::string output;  // the patch program to write
    std::string stub;    // the program without a package; empty: the installed one
    Compression compression = Compression::Libdeflate;  // for a manifest
    bool progress = false;
    SignOptions sign;  // signed when it names a route
};

// Writes the package (built from the manifest first, or verified) into a copy of the stub as
// its RCDATA 1 with the manifest's execution level set, checks that the program carries
// exactly that package, and writes it whole.
int MakeProgram(const ProgramOptions& options, std::FILE* out, std::FILE* err);
