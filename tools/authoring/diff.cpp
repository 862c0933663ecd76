// SPDX-License-Identifier: MIT
#include "authoring/diff.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "authoring/code_page.h"
#include "authoring/manifest.h"
#include "authoring/package_file.h"
#include "base/text.h"
#include "plan/plan_platform.h"
#include "rules/version.h"
#include "system/files.h"

namespace fs = std::filesystem;

namespace {

// Relative paths ("/"-separated, as the file system gives them) of the regular files under
// `root`, in byte order so that the manifest comes out the same on every run; with `links` and
// `folderLinks`, where its symbolic links to files and to folders lead.
int RegularFiles(const fs::path& root, std::vector<std::string>* files, std::string* error,
                 std::map<std::string, std::string>* links = nullptr,
                 std::map<std::string, std::string>* folderLinks = nullptr) {
    std::error_code code;
    fs::recursive_directory_iterator walk(root, code), end;
    if (code) {
        *error = root.u8string() + ": " + code.message();
        return 0;
    }
    for (; walk != end; walk.increment(code)) {
        if (code) {
            *error = code.message();
            return 0;
        }
        // A link to a folder is not walked into (it may lead anywhere); it is named instead.
        if (folderLinks && walk->is_symlink(code) && walk->is_directory(code)) {
            try {
                (*folderLinks)[walk->path().lexically_relative(root).generic_u8string()] =
                    fs::read_symlink(walk->path(), code).u8string();
            } catch (const std::exception&) {  // a Windows name that is no Unicode text
                *error = root.u8string() + ": a file name there is not Unicode text";
                return 0;
            }
            continue;
        }
        if (!walk->is_regular_file(code)) continue;
        try {
            files->push_back(walk->path().lexically_relative(root).generic_u8string());
            if (links && walk->is_symlink(code))
                (*links)[files->back()] = fs::read_symlink(walk->path(), code).u8string();
        } catch (const std::exception&) {  // a Windows name that is no Unicode text
            *error = root.u8string() + ": a file name there is not Unicode text";
            return 0;
        }
    }
    if (code) {
        *error = code.message();
        return 0;
    }
    std::sort(files->begin(), files->end());
    return 1;
}

bool SameContents(const fs::path& a, const fs::path& b) {
    std::error_code code;
    if (fs::file_size(a, code) != fs::file_size(b, code) || code) return false;
    std::ifstream one(a, std::ios::binary), two(b, std::ios::binary);
    char x[65536], y[65536];
    while (one && two) {
        one.read(x, sizeof x);
        two.read(y, sizeof y);
        if (one.gcount() != two.gcount() || !std::equal(x, x + one.gcount(), y)) return false;
    }
    return one.eof() && two.eof();
}

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool IsUtf8(const std::string& text) {
    std::string bytes, error;
    return EncodeText(text, 65001, &bytes, &error) != 0;
}

// A program or library may carry a version the rule compares; any other file has none, and
// the rule would replace it anyway.
bool IsProgram(const fs::path& file) {
    char magic[2] = {};
    std::ifstream(file, std::ios::binary).read(magic, sizeof magic);
    return magic[0] == 'M' && magic[1] == 'Z';
}

// Whether `path` is `folder` or lies in it, after links.
bool Inside(const std::string& path, const std::string& folder) {
    std::error_code code;
    fs::path relative = fs::weakly_canonical(fs::u8path(path), code)
                            .lexically_relative(fs::weakly_canonical(fs::u8path(folder), code));
    return !code && !relative.empty() && *relative.begin() != "..";
}

// A name as it may stand in a TOML comment: UTF-8 without control characters.
std::string Comment(const std::string& text) { return DecodeText(text, 65001); }

// The name the rule reads a release's file under, as plan reads the packaged copy.
const char RELEASE_FILE[] = "<release file>";

// The ProductVersion of `file` as the update program's rule reads it (the same reader, through
// plan's side of its seam). False when it reads none.
bool RuleVersion(const fs::path& file, std::string* version) {
    PlanPlatform& platform = ThePlanPlatform();
    std::string error;
    char text[VERSION_TEXT_SIZE];
    platform.memoryPath = RELEASE_FILE;
    ForgetCachedVersion();
    bool read = ReadWholeFile(file.u8string(), &platform.memoryBytes, &error, 1u << 30) &&
                ReadProductVersion(RELEASE_FILE, text);
    platform.memoryPath.clear();
    platform.memoryBytes.clear();
    ForgetCachedVersion();
    if (read) *version = text;
    return read;
}

// -1, 0 or 1 as `a` is older than, the same as or newer than `b`, their numbers compared part
// by part (2.10.1 is newer than 2.9.14): what a person means by the versions, to tell a
// release given as old from one the rule misreads.
int ComparePartwise(const std::string& a, const std::string& b) {
    auto parts = [](const std::string& text) {
        std::vector<unsigned long long> numbers;
        for (std::size_t at = 0; at < text.size();) {
            if (text[at] < '0' || text[at] > '9') {
                ++at;
                continue;
            }
            unsigned long long number = 0;
            for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at)
                number = number * 10 + static_cast<unsigned>(text[at] - '0');
            numbers.push_back(number);
        }
        return numbers;
    };
    std::vector<unsigned long long> x = parts(a), y = parts(b);
    x.resize(std::max(x.size(), y.size()));
    y.resize(x.size());
    return x < y ? -1 : x > y ? 1 : 0;
}

}  // namespace

Outcome StartingManifest(const std::string& oldDir, const std::string& newDir,
                         const std::string& manifestPath, bool force, ReleaseDiff* diff,
                         Report* report) {
    std::error_code code;
    for (const std::string& dir : {oldDir, newDir}) {
        if (!fs::is_directory(fs::u8path(dir), code)) {
            report->Err("tidepack: %s is not a folder\n", dir.c_str());
            return Outcome::Refused;
        }
    }
    std::vector<std::string> oldFiles, newFiles;
    std::string error;
    if (!manifestPath.empty() && !CheckOutputPath(manifestPath, {}, &error)) {
        report->Err("tidepack: %s: %s; nothing written\n", manifestPath.c_str(), error.c_str());
        return Outcome::Refused;
    }
    // The next diff would ship a manifest written into a release.
    for (const std::string& dir : {oldDir, newDir})
        if (!manifestPath.empty() && Inside(manifestPath, dir)) {
            report->Err(
                "tidepack: %s: is inside the release folder %s; nothing written (write "
                "the manifest beside the releases)\n",
                manifestPath.c_str(), dir.c_str());
            return Outcome::Refused;
        }
    std::map<std::string, std::string> links;  // the new release's symbolic links: where to
    std::map<std::string, std::string> folderLinks;
    if (!RegularFiles(fs::u8path(oldDir), &oldFiles, &error) ||
        !RegularFiles(fs::u8path(newDir), &newFiles, &error, &links, &folderLinks)) {
        report->Err("tidepack: %s\n", error.c_str());
        return Outcome::Faulty;
    }
    // The manifest must not take the place of a release's file.
    std::vector<std::string> inputs;
    for (const std::string& file : oldFiles)
        inputs.push_back((fs::u8path(oldDir) / fs::u8path(file)).u8string());
    for (const std::string& file : newFiles)
        inputs.push_back((fs::u8path(newDir) / fs::u8path(file)).u8string());
    if (!manifestPath.empty() && !CheckOutputPath(manifestPath, inputs, &error)) {
        report->Err("tidepack: %s: %s; nothing written\n", manifestPath.c_str(), error.c_str());
        return Outcome::Refused;
    }
    // The manifest there is most likely the last release's, edited by hand.
    if (!manifestPath.empty() && !force && fs::exists(fs::u8path(manifestPath), code)) {
        report->Err(
            "tidepack: %s already exists; nothing written (--force replaces it, or "
            "name another file)\n",
            manifestPath.c_str());
        return Outcome::Faulty;
    }
    // Sources are written relative to the manifest's folder, where build looks for them.
    fs::path manifestFolder = fs::u8path(manifestPath).parent_path();
    fs::path manifestDir =
        (manifestFolder.empty() ? fs::current_path(code) : fs::absolute(manifestFolder, code))
            .lexically_normal();
    std::set<std::string> oldSet(oldFiles.begin(), oldFiles.end());
    std::set<std::string> oldFolders;
    for (const std::string& file : oldFiles)
        for (fs::path p = fs::u8path(file).parent_path(); !p.empty(); p = p.parent_path())
            oldFolders.insert(p.generic_u8string());

    std::string body, leftOut;
    int listed = 0, unchanged = 0, faults = 0;
    int compared = 0, older = 0;  // programs with a version in both releases; older in the new
    std::map<std::string, int> newFolders;  // folders the old release lacks: their files
    for (const std::string& file : newFiles) {
        fs::path newPath = fs::u8path(newDir) / fs::u8path(file);
        bool isNew = oldSet.count(file) == 0;
        if (!isNew && SameContents(fs::u8path(oldDir) / fs::u8path(file), newPath)) {
            ++unchanged;
            continue;
        }
        if (!IsUtf8(file)) {
            report->Err("tidepack: %s: the name is not UTF-8; left out\n",
                        newPath.u8string().c_str());
            leftOut += "#   " + Comment(file) + "\n";
            ++faults;
            continue;
        }
        fs::path relative =
            fs::absolute(newPath, code).lexically_normal().lexically_relative(manifestDir);
        std::string source = relative.empty() ? fs::absolute(newPath, code).generic_u8string()
                                              : relative.generic_u8string();
        fs::path parent = fs::u8path(file).parent_path();
        std::string folder = "<InstallDir>";
        for (const fs::path& part : parent) folder += "\\" + part.u8string();
        bool newFolder = !parent.empty() && oldFolders.count(parent.generic_u8string()) == 0;
        if (newFolder) ++newFolders[parent.generic_u8string()];
        body += isNew ? "\n# new\n" : "\n# changed\n";
        // Said at the entry itself, where a vendor edits it; the header's note is easily missed.
        if (newFolder)
            body += "# In " + Comment(parent.generic_u8string()) +
                    ", new in this release: the update program creates it first\n"
                    "# (beneath the install folder only). 'tidepack plan' shows it.\n";
        if (links.count(file)) {
            body += "# a symbolic link to " + Comment(links[file]) +
                    "; build follows it only inside the manifest's folder (else followLinks)\n";
            report->Err(
                "tidepack: warning: %s is a symbolic link to %s; the manifest lists it "
                "as the file it leads to\n",
                newPath.u8string().c_str(), Comment(links[file]).c_str());
        }
        body += "[[file]]\n";
        body += "source = " + TomlString(source) + "\n";
        body += "folder = " + TomlString(folder) + "\n";
        body += "fileName = " + TomlString(fs::u8path(file).filename().u8string()) + "\n";
        std::string oldVersion, newVersion;
        bool program = IsProgram(newPath);
        bool versioned = program && !isNew &&
                         RuleVersion(fs::u8path(oldDir) / fs::u8path(file), &oldVersion) &&
                         RuleVersion(newPath, &newVersion);
        if (versioned) {
            ++compared;
            if (ComparePartwise(newVersion, oldVersion) < 0) ++older;
        }
        if (versioned && VersionNumber(newVersion.c_str()) < VersionNumber(oldVersion.c_str())) {
            // The rule would keep the old release's copy wherever it is installed.
            body += "# The version rule ranks " + Comment(newVersion) + " (" +
                    std::to_string(VersionNumber(newVersion.c_str())) + ") below the old " +
                    Comment(oldVersion) + " (" + std::to_string(VersionNumber(oldVersion.c_str())) +
                    ") and would keep the\n# installed copy; alwaysReplace = true puts this "
                    "release's in place.\n";
            body += "alwaysReplace = true\n";
            report->Err(
                "tidepack: warning: %s: the version rule ranks %s below %s and would keep the "
                "installed copy; the manifest sets alwaysReplace = true\n",
                newPath.u8string().c_str(), Comment(newVersion).c_str(),
                Comment(oldVersion).c_str());
        } else {
            body += program ? "alwaysReplace = false          # the version rule decides\n"
                            : "alwaysReplace = true           # no version to compare\n";
        }
        if (newFolder) body += "createFolder = true\n";
        ++listed;
    }

    std::string text;
    text += "# Starting manifest written by tidepack diff.\n";
    text += "#   old release: " + Comment(oldDir) + "\n";
    text += "#   new release: " + Comment(newDir) + "\n";
    text += "# " + Count(listed, "file") + " new or changed; " +
            Count(unchanged, "unchanged file") + " left out.\n";
    text += "# Fill in the header: build refuses the empty texts below until they are given.\n";
    text += "# Then check each file's folder, flags and shortcuts.\n\n";
    text += "codePage = 932                 # ANSI code page of the target machines\n";
    text += "title = ''                     # the product's name, shown by the dialog\n";
    text += "versionText = ''               # the version this update brings\n";
    text +=
        "registryKey = ''               # e.g. 'HKEY_LOCAL_MACHINE\\Software\\Maker\\Product'\n";
    text +=
        "valueName = ''                 # its value that holds the install folder; '' is "
        "the default value\n";
    text +=
        "defaultFolder = ''             # e.g. 'C:\\Program Files\\Product', where the "
        "registry names none\n";
    text += "subFolder = ''\n";
    // The dialog's own texts name our wizard; these name the vendor's product (the title).
    text +=
        "\n# The patch program's name, texts and icon (the guide's section 3.5). In the dialog's\n"
        "# texts %s is the title (welcome) or versionText (explain); \\r and \\n break lines.\n"
        "[program]\n"
        "welcome = \"Welcome to the update for\\r%s\"\n"
        "explain = \"This will update it to version %s. To continue, click Update.\"\n"
        "welcomeJa = \"このプログラムは次の製品をアップデートします。\\n\\n%s\"\n"
        "explainJa = \"%s に更新するには［更新］ボタンをクリックしてください。\"\n"
        "# companyName = ''\n"
        "# productName = ''\n"
        "# fileDescription = ''\n"
        "# fileVersion = '1.0.0.0'\n"
        "# legalCopyright = ''\n"
        "# originalFilename = ''\n"
        "# icon = ''\n";
    for (const auto& [folder, count] : newFolders)
        text += "\n# New folder " + Comment(folder) + " (" + Count(count, "file") +
                "): its files ask the update program to create it.";
    if (!newFolders.empty()) text += "\n";
    if (compared > 0 && older * 2 > compared) {
        text += "\n# " + std::to_string(older) + " of " + Count(compared, "versioned program") +
                " carry an older version in the new release: are the releases in the wrong "
                "order?\n";
        report->Err(
            "tidepack: warning: %d of %s are older in %s than in %s: were the releases given "
            "in the wrong order (diff OLD_DIR NEW_DIR)?\n",
            older, Count(compared, "versioned program").c_str(), newDir.c_str(), oldDir.c_str());
    }
    text += body;
    std::vector<std::string> removed;
    std::set<std::string> newSet(newFiles.begin(), newFiles.end());
    std::set<std::string> newFolderSet;
    for (const std::string& file : newFiles)
        for (fs::path p = fs::u8path(file).parent_path(); !p.empty(); p = p.parent_path())
            newFolderSet.insert(p.generic_u8string());
    for (const std::string& file : oldFiles)
        if (!newSet.count(file)) removed.push_back(file);
    if (!leftOut.empty())
        text += "\n# Left out: names that are not UTF-8 (rename them, or add them by hand):\n" +
                leftOut;
    if (!folderLinks.empty()) {
        text +=
            "\n# Left out: symbolic links to folders (add their files by hand, each with its "
            "source):\n";
        for (const auto& [link, target] : folderLinks) {
            text += "#   " + Comment(link) + " -> " + Comment(target) + "\n";
            report->Err(
                "tidepack: warning: %s is a symbolic link to the folder %s; its files are left "
                "out of the manifest\n",
                (fs::u8path(newDir) / fs::u8path(link)).u8string().c_str(),
                Comment(target).c_str());
        }
    }
    if (!removed.empty()) {
        text +=
            "\n# Gone from the new release: each is removed once every file above is in place.\n"
            "# Delete a [[remove]] table to keep that file installed.\n";
        for (const std::string& file : removed) {
            std::string target = "<InstallDir>";
            for (const fs::path& part : fs::u8path(file)) target += "\\" + part.u8string();
            // A file only renamed in its case is the new file's target: never removed.
            bool renamed = false;
            for (const std::string& other : newFiles)
                renamed = renamed || Lower(other) == Lower(file);
            if (!IsUtf8(file) || renamed) {
                text += "#   " + Comment(file) + (renamed ? " (renamed in its case)\n" : "\n");
                continue;
            }
            text += "[[remove]]\ntarget = " + TomlString(target) + "\n";
            // Its folder gone from the new release too: removed with its last file.
            std::string folder = fs::u8path(file).parent_path().generic_u8string();
            if (!folder.empty() && !newFolderSet.count(folder))
                text += "removeEmptyFolder = true\n";
        }
    }

    diff->manifest = std::move(text);
    diff->listed = listed;
    diff->unchanged = unchanged;
    diff->faults = faults;
    return Outcome::Done;
}
