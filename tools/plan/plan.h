// What a package would do to an install folder on this machine, worked out by the update
// program's own rules (src/rules, src/shortcuts) over the real files there.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "package/package.h"

// The folders the package's placeholders and shortcut tags stand for, as paths on this machine
// (UTF-8; a backslash also separates folders). An empty shell folder is left as its tag, so its
// shortcuts show the tag in place of the folder.
struct PlanFolders {
    std::string installDir;
    std::string windowsDir = "C:\\WINDOWS";
    std::string systemDir = "C:\\WINDOWS\\system32";
    std::string programMenu, desktop, startMenu, startUpMenu;
    std::string appData;  // the user's AppData folder, under which Quick Launch lies
    int codePage = 932;   // of the package's texts, and of the paths the rules compose
};

// What happens to an entry's file. Skipped entries write nothing.
enum class PlanAction { Replaced, Kept, Added, Skipped };

// Why: the first three go with Replaced or Kept, NewFile with Added, the rest with Skipped.
enum class PlanReason {
    AlwaysReplace,  // the entry replaces whatever is installed
    VersionRule,    // the version rule decided (Replaced or Kept)
    NewFile,        // nothing is installed at the target
    FolderMissing,  // the target's folder does not exist; the program makes none
    NoPlaceholder,  // the folder begins with no known placeholder
    TargetTooLong,  // the target path would pass 259 characters
    DamagedEntry,   // a text or the stream cannot be read whole from the package
};

struct PlannedShortcut {
    std::string link;  // the shortcut file's full path
    std::string arguments, workingDir, description;
    bool exists = false;  // something is there already, so the program leaves it
};

struct PlannedEntry {
    std::int32_t index = 0;
    std::string fileName, folder, target;  // target: empty when the rules give none
    std::uint32_t flags = 0;
    PlanAction action = PlanAction::Skipped;
    PlanReason reason = PlanReason::DamagedEntry;
    std::string missingFolder;  // with FolderMissing
    // With VersionRule: each ProductVersion as the rule read it; has*: it read one.
    bool hasPackagedVersion = false, hasInstalledVersion = false;
    std::string packagedVersion, installedVersion;
    std::vector<PlannedShortcut> shortcuts;
};

enum class PlanMoveAction {
    Move,    // the shortcut is copied to `toPath`, then deleted at `fromPath`
    Delete,  // `to` names no place: the shortcut at `fromPath` is deleted
    None,    // `from` names no place, or `toPath` would be too long: nothing changes
};

struct PlannedMove {
    std::string from, to;          // as the package gives them
    std::string fromPath, toPath;  // resolved
    PlanMoveAction action = PlanMoveAction::None;
};

struct PackagePlan {
    std::vector<PlannedEntry> entries;
    std::vector<PlannedMove> moves;
    // Parts of a damaged package that cannot be read, one line each.
    std::vector<std::string> faults;
};

// Works out `plan` for the package in `image` against `folders`. Returns 1; 0 with the reason
// in `error` when the package has no header or a folder cannot be written in the code page.
int PlanPackage(const PackageImage& image, const PlanFolders& folders, PackagePlan* plan,
                std::string* error);

// Stable names, used by the text and JSON output alike.
const char* PlanActionName(PlanAction action);
const char* PlanReasonName(PlanReason reason);
const char* PlanMoveActionName(PlanMoveAction action);
