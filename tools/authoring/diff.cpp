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
            body +=
                "# In " + Comment(parent.generic_u8string()) +
                ", new in this release: the patch skips this file on machines\n"
                "# without that folder. 'tidepack plan' shows it against a copy of an install.\n";
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
        body += IsProgram(newPath) ? "alwaysReplace = false          # the version rule decides\n"
                                   : "alwaysReplace = true           # no version to compare\n";
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
    for (const auto& [folder, count] : newFolders) {
        text += "\n# New folder " + Comment(folder) +
                ": the update program creates no folders, so the files\n"
                "# in it are only written where it already exists ('tidepack plan' checks).";
        report->Err(
            "tidepack: warning: %s is a new folder; the update program creates no "
            "folders, so it writes the %s in it only where the folder exists\n",
            Comment(folder).c_str(), Count(count, "file").c_str());
    }
    if (!newFolders.empty()) text += "\n";
    text += body;
    std::vector<std::string> removed;
    std::set<std::string> newSet(newFiles.begin(), newFiles.end());
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
        text += "\n# Gone from the new release (a package cannot delete files):\n";
        for (const std::string& file : removed) text += "#   " + Comment(file) + "\n";
    }

    diff->manifest = std::move(text);
    diff->listed = listed;
    diff->unchanged = unchanged;
    diff->faults = faults;
    return Outcome::Done;
}
