// SPDX-License-Identifier: MIT
#include "plan/plan_report.h"

#include <filesystem>
#include <string>

#include "authoring/package_file.h"

namespace {

std::string Json(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string JsonOrNull(bool given, const std::string& text) { return given ? Json(text) : "null"; }

struct Tally {
    int replaced = 0, kept = 0, added = 0, skipped = 0;
};

Tally Count(const PackagePlan& plan) {
    Tally tally;
    for (const PlannedEntry& entry : plan.entries) {
        switch (entry.action) {
            case PlanAction::Replaced:
                ++tally.replaced;
                break;
            case PlanAction::Kept:
                ++tally.kept;
                break;
            case PlanAction::Added:
                ++tally.added;
                break;
            case PlanAction::Skipped:
                ++tally.skipped;
                break;
        }
    }
    return tally;
}

std::string Why(const PlannedEntry& entry) {
    switch (entry.reason) {
        case PlanReason::AlwaysReplace:
            return "alwaysReplace";
        case PlanReason::VersionRule:
            return "version rule: packaged " +
                   (entry.hasPackagedVersion ? entry.packagedVersion : "none") + ", installed " +
                   (entry.hasInstalledVersion ? entry.installedVersion : "none");
        case PlanReason::NewFile:
            return "nothing installed there";
        case PlanReason::FolderMissing:
            return "folder missing: " + entry.missingFolder;
        case PlanReason::NoPlaceholder:
            return "no known placeholder in '" + entry.folder + "'";
        case PlanReason::TargetTooLong:
            return "target longer than 259 bytes";
        case PlanReason::ReadOnly:
            return "the installed file is read-only: the program never replaces it";
        case PlanReason::FolderAtTarget:
            return "a folder is at the target: the program never replaces it";
        case PlanReason::DamagedEntry:
            break;
    }
    return "the entry cannot be read whole from the package";
}

void PrintText(const PlanOptions& options, const PackagePlan& plan, Report* report) {
    report->Out("plan of %s against %s\n\nentries\n", options.path.c_str(),
                options.folders.installDir.c_str());
    if (plan.entries.empty()) report->Out("  none\n");
    for (const PlannedEntry& entry : plan.entries) {
        report->Out("  [%d] %-8s %s\n", entry.index, PlannedOutcomeName(entry),
                    entry.target.empty() ? (entry.folder + "\\" + entry.fileName).c_str()
                                         : entry.target.c_str());
        report->Out("      %s\n", Why(entry).c_str());
        if ((entry.flags & ENTRY_RUN_AFTER) && !entry.target.empty())
            report->Out("      runs once every file is written\n");
        for (const PlannedShortcut& shortcut : entry.shortcuts)
            report->Out(
                "      shortcut %s%s%s\n", shortcut.link.c_str(),
                shortcut.arguments.empty() ? "" : (", arguments " + shortcut.arguments).c_str(),
                shortcut.exists ? " (already there: left as it is)" : "");
    }
    report->Out("\nshortcut moves\n");
    if (plan.moves.empty()) report->Out("  none\n");
    for (std::size_t r = 0; r < plan.moves.size(); ++r) {
        const PlannedMove& move = plan.moves[r];
        report->Out("  [%zu] %-6s %s", r, PlannedMoveOutcomeName(move),
                    (move.fromPath.empty() ? move.from : move.fromPath).c_str());
        if (move.action == PlanMoveAction::Move) report->Out(" -> %s", move.toPath.c_str());
        report->Out("\n");
    }
    const char* const EXTRA_SECTIONS[][2] = {{"folder", "folders to create"},
                                             {"removal", "files to remove"},
                                             {"value", "registry values"}};
    for (const auto& [kind, title] : EXTRA_SECTIONS) {
        bool any = false;
        for (const PlannedExtra& extra : plan.extras) {
            if (extra.kind != kind) continue;
            if (!any) report->Out("\n%s\n", title);
            any = true;
            report->Out("  [%d] %s: %s\n", extra.index,
                        (extra.target.empty() ? extra.record : extra.target).c_str(),
                        extra.outcome.c_str());
            // The registry is not this machine's: the program sets a value only in a key
            // that exists.
            if (extra.kind == "value" && extra.outcome == "set")
                report->Out("      value to set, where the key exists on the user's machine\n");
        }
    }
    Tally tally = Count(plan);
    report->Out("\n%d replaced, %d kept, %d added, %d skipped\n", tally.replaced, tally.kept,
                tally.added, tally.skipped);
}

void PrintJson(const PlanOptions& options, const PackagePlan& plan, Report* report) {
    std::string text = "{\n  \"file\": " + Json(options.path) +
                       ",\n  \"installDir\": " + Json(options.folders.installDir) +
                       ",\n  \"codePage\": " + std::to_string(options.folders.codePage) +
                       ",\n  \"entries\": [";
    for (std::size_t k = 0; k < plan.entries.size(); ++k) {
        const PlannedEntry& entry = plan.entries[k];
        bool rule = entry.reason == PlanReason::VersionRule;
        text += std::string(k ? "," : "") + "\n    {\"index\": " + std::to_string(entry.index) +
                ", \"fileName\": " + Json(entry.fileName) + ", \"folder\": " + Json(entry.folder) +
                ", \"target\": " + JsonOrNull(!entry.target.empty(), entry.target) +
                ", \"alwaysReplace\": " + (entry.flags & ENTRY_ALWAYS_REPLACE ? "true" : "false") +
                ", \"runAfter\": " + (entry.flags & ENTRY_RUN_AFTER ? "true" : "false") +
                ", \"action\": " + Json(PlanActionName(entry.action)) +
                ", \"outcome\": " + Json(PlannedOutcomeName(entry)) +
                ", \"reason\": " + Json(PlanReasonName(entry.reason)) + ", \"packagedVersion\": " +
                JsonOrNull(rule && entry.hasPackagedVersion, entry.packagedVersion) +
                ", \"installedVersion\": " +
                JsonOrNull(rule && entry.hasInstalledVersion, entry.installedVersion) +
                ", \"missingFolder\": " +
                JsonOrNull(entry.reason == PlanReason::FolderMissing, entry.missingFolder) +
                ", \"shortcuts\": [";
        for (std::size_t s = 0; s < entry.shortcuts.size(); ++s) {
            const PlannedShortcut& shortcut = entry.shortcuts[s];
            text += std::string(s ? ", " : "") + "{\"link\": " + Json(shortcut.link) +
                    ", \"arguments\": " + Json(shortcut.arguments) +
                    ", \"workingDir\": " + Json(shortcut.workingDir) +
                    ", \"description\": " + Json(shortcut.description) +
                    ", \"exists\": " + (shortcut.exists ? "true" : "false") +
                    ", \"outcome\": " + Json(PlannedShortcutOutcomeName(shortcut)) + "}";
        }
        text += "]}";
    }
    text += "\n  ],\n  \"moves\": [";
    for (std::size_t r = 0; r < plan.moves.size(); ++r) {
        const PlannedMove& move = plan.moves[r];
        text += std::string(r ? "," : "") + "\n    {\"from\": " + Json(move.from) +
                ", \"to\": " + Json(move.to) +
                ", \"fromPath\": " + JsonOrNull(!move.fromPath.empty(), move.fromPath) +
                ", \"toPath\": " + JsonOrNull(!move.toPath.empty(), move.toPath) +
                ", \"action\": " + Json(PlanMoveActionName(move.action)) +
                ", \"outcome\": " + Json(PlannedMoveOutcomeName(move)) + "}";
    }
    Tally tally = Count(plan);
    text += "\n  ],\n  \"summary\": {\"replaced\": " + std::to_string(tally.replaced) +
            ", \"kept\": " + std::to_string(tally.kept) +
            ", \"added\": " + std::to_string(tally.added) +
            ", \"skipped\": " + std::to_string(tally.skipped) + "},\n  \"extras\": [";
    for (std::size_t e = 0; e < plan.extras.size(); ++e) {
        const PlannedExtra& extra = plan.extras[e];
        text += std::string(e ? "," : "") + "\n    {\"kind\": " + Json(extra.kind) +
                ", \"index\": " + std::to_string(extra.index) +
                ", \"record\": " + Json(extra.record) +
                ", \"target\": " + JsonOrNull(!extra.target.empty(), extra.target) +
                ", \"outcome\": " + Json(extra.outcome) + "}";
    }
    text += std::string(plan.extras.empty() ? "" : "\n  ") + "],\n  \"faults\": [";
    for (std::size_t f = 0; f < plan.faults.size(); ++f)
        text += std::string(f ? ", " : "") + Json(plan.faults[f]);
    text += "]\n}\n";
    report->Out("%s", text.c_str());
}

}  // namespace

Outcome ReportPlan(const PlanOptions& options, Report* report) {
    std::error_code code;
    if (!std::filesystem::is_directory(std::filesystem::u8path(options.folders.installDir), code)) {
        report->Err("tidepack: %s is not a folder\n", options.folders.installDir.c_str());
        return Outcome::Refused;
    }
    PackageFile file;
    std::string error;
    if (!LoadPackageFile(options.path, &file, &error)) {
        report->Err("tidepack: %s: %s\n", options.path.c_str(), error.c_str());
        return Outcome::Faulty;
    }
    PackagePlan plan;
    if (!PlanPackage(file.image, options.folders, &plan, &error, file.extras)) {
        report->Err("tidepack: %s: %s\n", options.path.c_str(), error.c_str());
        return Outcome::Faulty;
    }
    if (options.json)
        PrintJson(options, plan, report);
    else
        PrintText(options, plan, report);
    for (const std::string& fault : plan.faults)
        report->Err("tidepack: %s: %s\n", options.path.c_str(), fault.c_str());
    // Not one target there: most likely the wrong folder, or an install of another product.
    Tally tally = Count(plan);
    if (!plan.entries.empty() && tally.replaced + tally.kept == 0)
        report->Err(
            "tidepack: warning: %s does not look like an install of this product: no entry's "
            "target is there\n",
            options.folders.installDir.c_str());
    int skipped = Count(plan).skipped;
    if (options.strict && skipped)
        report->Err("tidepack: %s: %s would be skipped (--strict)\n", options.path.c_str(),
                    ::Count(static_cast<std::uint64_t>(skipped), "entry", "entries").c_str());
    return !plan.faults.empty() || (options.strict && skipped) ? Outcome::Faulty : Outcome::Done;
}
