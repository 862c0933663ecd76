// SPDX-License-Identifier: MIT
// What a package would do to an install folder on this machine, worked out by the update
// program's own rules (src/rules, src/shortcuts) over the real files there.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "extras/extras.h"
#include "package/package.h"
#include "plan/planned.h"

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

// Works out `plan` for the package in `image` against `folders`, with the steps beside it in
// `extras` (none when its data is null). Returns 1; 0 with the reason in `error` when the
// package has no header or a folder cannot be written in the code page.
int PlanPackage(const PackageImage& image, const PlanFolders& folders, PackagePlan* plan,
                std::string* error, const ExtrasImage& extras = ExtrasImage{nullptr, 0});

// Stable names, used by the text and JSON output alike.
const char* PlanActionName(PlanAction action);
const char* PlanReasonName(PlanReason reason);
const char* PlanMoveActionName(PlanMoveAction action);

// The outcome the program would record, by the names its log uses (outcome/outcome.h).
const char* PlannedOutcomeName(const PlannedEntry& entry);
const char* PlannedShortcutOutcomeName(const PlannedShortcut& shortcut);
const char* PlannedMoveOutcomeName(const PlannedMove& move);
