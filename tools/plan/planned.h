// SPDX-License-Identifier: MIT
// What a plan finds, shared by the plan (plan.h) and the tool's side of the rules' seams
// (plan_platform.h), which records shortcuts and moves into it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What happens to an entry's file. Skipped entries write nothing.
enum class PlanAction { Replaced, Kept, Added, Skipped };

// Why: the first three go with Replaced or Kept, NewFile with Added, ReadOnly and FolderAtTarget
// with Kept, the rest with Skipped.
enum class PlanReason {
    AlwaysReplace,   // the entry replaces whatever is installed
    VersionRule,     // the version rule decided (Replaced or Kept)
    NewFile,         // nothing is installed at the target
    FolderMissing,   // the target's folder does not exist; the program makes none
    NoPlaceholder,   // the folder begins with no known placeholder
    TargetTooLong,   // the target path would pass 259 characters
    DamagedEntry,    // a text or the stream cannot be read whole from the package
    ReadOnly,        // the installed file is read-only, which the program never replaces
    FolderAtTarget,  // a folder is where the file would go
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

// A folder to create, a file to remove or a registry value to set, from the steps beside the
// package, with the outcome the update program's own steps give (ExtraOutcomeWord).
struct PlannedExtra {
    std::string kind;    // "folder", "removal" or "value"
    int index = 0;       // among its kind
    std::string record;  // as packaged: the path with its placeholder, or "key: value = data"
    std::string target;  // the path composed against the install folder; empty for a value
    std::string outcome;
};

struct PackagePlan {
    std::vector<PlannedEntry> entries;
    std::vector<PlannedMove> moves;
    std::vector<PlannedExtra> extras;  // folders, then removals, then values
    // Parts of a damaged package that cannot be read, one line each.
    std::vector<std::string> faults;
};
