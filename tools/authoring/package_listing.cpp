// SPDX-License-Identifier: MIT
#include "authoring/package_listing.h"

#include "authoring/extras_check.h"

#include <cinttypes>

#include "base/text.h"
#include "authoring/code_page.h"
#include "rules/targets.h"
#include "program/identity.h"
#include "signing/signature.h"

namespace {

struct Lister {
    const ListOptions& options;
    const PackageImage& image;
    Report* report;
    int faults = 0;

    void Fault(std::uint64_t offset, const std::string& what) {
        ++faults;
        report->Err("tidepack: %s: offset %" PRIu64 ": %s\n", options.path.c_str(), offset,
                    what.c_str());
    }

    // A text field's bytes; a text with no end, or one that runs past its field, is a fault.
    bool Raw(const char* field, std::size_t width, const std::string& name, std::string* text) {
        bool inField;
        if (!FieldText(image, field, width, text, &inField)) {
            Fault(FieldOffset(image, field), name + " has no end before the end of the package");
            return false;
        }
        if (!inField)
            Fault(FieldOffset(image, field),
                  name + " runs past its field of " + std::to_string(width) + " bytes");
        return true;
    }

    // The same, decoded for display.
    std::string Text(const char* field, std::size_t width, const std::string& name) {
        std::string text;
        return Raw(field, width, name, &text) ? DecodeText(text, options.codePage) : "<no end>";
    }

    // A header text under its field's name.
    template <std::size_t Width>
    void PrintHeaderText(const char* name, const char (&field)[Width]) {
        report->Out("  %-15s%s\n", name, Text(field, Width, name).c_str());
    }

    void PrintHeader(const PackageHeader& header) {
        report->Out("\nheader\n");
        report->Out("  reserved       0x%08" PRIX32 "\n", header.reserved);
        PrintHeaderText("title", header.title);
        PrintHeaderText("versionText", header.versionText);
        PrintHeaderText("registryKey", header.registryKey);
        PrintHeaderText("valueName", header.valueName);
        PrintHeaderText("defaultFolder", header.defaultFolder);
        PrintHeaderText("subFolder", header.subFolder);
        report->Out("  entryCount     %" PRId32 "\n", header.entryCount);
    }

    // Targets resolve against the given folder, else against defaultFolder as it stands.
    // Returns 1 with it in `installFolder` (PATH_TEXT_SIZE bytes); 0 when neither can be read.
    int PrintInstallFolder(const PackageHeader& header, const std::string& installDir,
                           char* installFolder) {
        const char* defaultFolder = PackageText(image, header.defaultFolder);
        int haveInstall =
            options.haveInstallDir
                ? TextCopy(installFolder, PATH_TEXT_SIZE, installDir.c_str())
                : defaultFolder && TextCopy(installFolder, PATH_TEXT_SIZE, defaultFolder);
        std::string unknown = "unknown";
        if (options.haveInstallDir && !haveInstall)
            unknown = "unknown: --install-dir is " + std::to_string(installDir.size()) +
                      " bytes in code page " + std::to_string(options.codePage) + "; at most " +
                      std::to_string(PATH_TEXT_SIZE - 1) + " fit";
        report->Out(
            "  install folder %s (%s)\n",
            haveInstall ? DecodeText(installFolder, options.codePage).c_str() : unknown.c_str(),
            options.haveInstallDir ? "--install-dir" : "defaultFolder");
        return haveInstall;
    }

    void PrintRunningApps(const PackageHeader& header) {
        report->Out("\nrunning applications\n");
        int inUse = 0;
        for (int k = 0; k < RUNNING_APP_COUNT; ++k) {
            const RunningAppRecord& app = header.runningApps[k];
            if (app.windowClass[0] == '\0') continue;
            ++inUse;
            std::string where = "runningApps[" + std::to_string(k) + "].";
            report->Out(
                "  [%d] windowClass %s\n", k,
                Text(app.windowClass, sizeof app.windowClass, where + "windowClass").c_str());
            report->Out("      message     %s\n",
                        Text(app.message, sizeof app.message, where + "message").c_str());
        }
        if (inUse == 0) report->Out("  none in use\n");
    }

    // One line a shortcut, as the CR LF between them split it.
    void PrintShortcuts(const PackageEntry& entry, const std::string& where) {
        std::string shortcuts;
        Raw(entry.shortcutText, sizeof entry.shortcutText, where + "shortcutText", &shortcuts);
        for (std::size_t start = 0; start < shortcuts.size();) {
            std::size_t end = shortcuts.find("\r\n", start);
            if (end == std::string::npos) end = shortcuts.size();
            report->Out("      shortcut %s\n",
                        DecodeText(shortcuts.substr(start, end - start), options.codePage).c_str());
            start = end + 2;
        }
    }

    // Entry `i` with its target against `installFolder` (null: none known).
    void PrintEntry(std::int32_t i, const PackageEntry& entry, const char* installFolder) {
        std::string where = "entry " + std::to_string(i) + " ";
        report->Out("  [%" PRId32 "] size %" PRIu32 ", compressed %" PRIu32 " at offset %" PRIu32
                    "\n",
                    i, entry.size, entry.compressedSize, entry.streamOffset);
        report->Out("      flags    0x%02" PRIX32 " %s\n", entry.flags,
                    FlagNames(entry.flags).c_str());
        report->Out("      fileName %s\n",
                    Text(entry.fileName, sizeof entry.fileName, where + "fileName").c_str());
        report->Out("      folder   %s\n",
                    Text(entry.folder, sizeof entry.folder, where + "folder").c_str());
        const char* fileName = PackageText(image, entry.fileName);
        const char* folder = PackageText(image, entry.folder);
        char target[PATH_TEXT_SIZE];
        if (fileName && folder && ResolveTargetPath(fileName, folder, installFolder, target))
            report->Out("      target   %s\n", DecodeText(target, options.codePage).c_str());
        else
            report->Out("      target   no target\n");
        PrintShortcuts(entry, where);
        const unsigned char* stream;
        if (!GetEntryStream(image, entry, &stream))
            Fault(FieldOffset(image, &entry),
                  where + "stream at offset " + std::to_string(entry.streamOffset) + ", " +
                      std::to_string(entry.compressedSize) + " bytes, lies outside the package");
    }

    // Every entry the table holds, as far as it can be read. Gives the last entry; null when
    // there is none or it cannot be read.
    const PackageEntry* PrintEntries(std::int32_t count, const char* installFolder) {
        report->Out("\nentries\n");
        if (count <= 0) report->Out("  none\n");
        const PackageEntry* last = nullptr;
        for (std::int32_t i = 0; i < count; ++i) {
            const PackageEntry* entry;
            if (!GetPackageEntry(image, i, &entry)) {
                Fault(HEADER_SIZE + static_cast<std::uint64_t>(ENTRY_SIZE) * i,
                      "entry " + std::to_string(i) + " of " + std::to_string(count) +
                          " reaches past the end of the package; the rest cannot be read");
                break;
            }
            if (i == count - 1) last = entry;
            PrintEntry(i, *entry, installFolder);
        }
        return last;
    }

    // The move table behind the `last` entry's stream (null: the table cannot be reached).
    void PrintMoves(std::int32_t count, const PackageEntry* last) {
        report->Out("\nshortcut moves\n");
        std::uint32_t table;
        std::int32_t moveCount = 0;
        if (count <= 0) {
            report->Out("  none (without entries there is no move table)\n");
            return;
        }
        if (!last) {
            report->Out("  not readable\n");
            return;
        }
        if (!GetMoveTableOffset(image, *last, &table) || !GetMoveCount(image, table, &moveCount)) {
            report->Out("  not readable\n");
            Fault(static_cast<std::uint64_t>(last->streamOffset) + last->compressedSize,
                  "the move table behind the last entry's stream lies past the end of the "
                  "package");
            return;
        }
        report->Out("  moveCount %" PRId32 " at offset %" PRIu32 "\n", moveCount, table);
        for (std::int32_t r = 0; r < moveCount; ++r) {
            const ShortcutMoveRecord* record;
            if (!GetMoveRecord(image, table, r, &record)) {
                Fault(table + MOVE_COUNT_SIZE + static_cast<std::uint64_t>(MOVE_RECORD_SIZE) * r,
                      "move " + std::to_string(r) + " of " + std::to_string(moveCount) +
                          " reaches past the end of the package");
                return;
            }
            std::string where = "move " + std::to_string(r) + " ";
            report->Out("  [%" PRId32 "] from %s\n", r,
                        Text(record->from, sizeof record->from, where + "from").c_str());
            std::string to = Text(record->to, sizeof record->to, where + "to");
            report->Out("      to   %s\n", to.empty() ? "(empty: delete)" : to.c_str());
        }
    }
};

// The folder options in the package's code page; the Windows and system folders go to the
// target rules. Returns 1; 0 with the reason when one cannot be written in that code page.
int SetFolders(const ListOptions& options, std::string* installDir, std::string* error) {
    std::string windowsDir, systemDir;
    if (!EncodeText(options.windowsDir, options.codePage, &windowsDir, error) ||
        !EncodeText(options.systemDir, options.codePage, &systemDir, error) ||
        (options.haveInstallDir &&
         !EncodeText(options.installDir, options.codePage, installDir, error)))
        return 0;
    SetPlatformFolders(windowsDir, systemDir);
    return 1;
}

}  // namespace

Outcome ListPackageRecords(const ListOptions& options, Report* report) {
    PackageFile file;
    std::string error;
    if (!LoadPackageFile(options.path, &file, &error)) {
        report->Err("tidepack: %s: %s\n", options.path.c_str(), error.c_str());
        return Outcome::Faulty;
    }
    std::string installDir;
    if (!SetFolders(options, &installDir, &error)) {
        report->Err("tidepack: a folder option: %s\n", error.c_str());
        return Outcome::Refused;
    }
    SetPlatformCodePage(options.codePage);

    const PackageImage& image = file.image;
    Lister list{options, image, report};
    report->Out("file           %s\n", options.path.c_str());
    if (!file.origin.empty()) report->Out("package        %s\n", file.origin.c_str());
    report->Out("size           %" PRIu32 " bytes\n", image.size);
    int broken = ReportSignature(options.path, file.bytes, true, report);
    ReportIdentity(options.path, file.bytes, true, report);
    ReportCustomerView(options, file, true, report);
    const PackageHeader* header;
    if (!GetPackageHeader(image, &header)) {
        list.Fault(0, "not a package: " + std::to_string(image.size) +
                          " bytes is shorter than a package header (" +
                          std::to_string(HEADER_SIZE) + " bytes)");
        return Outcome::Faulty;
    }
    list.PrintHeader(*header);
    char installFolder[PATH_TEXT_SIZE];
    bool haveInstall = list.PrintInstallFolder(*header, installDir, installFolder);
    list.PrintRunningApps(*header);
    const PackageEntry* last =
        list.PrintEntries(header->entryCount, haveInstall ? installFolder : nullptr);
    list.PrintMoves(header->entryCount, last);
    if (file.extras.data) {
        const char* defaultFolder = PackageText(image, header->defaultFolder);
        ExtrasDescription described = DescribeExtras(file.extras, options.codePage,
                                                     haveInstall     ? installFolder
                                                     : defaultFolder ? defaultFolder
                                                                     : nullptr);
        report->Out("\nbeside the package (%s)\n", file.extrasOrigin.c_str());
        for (const std::string& line : described.lines) report->Out("  %s\n", line.c_str());
        for (const std::string& fault : described.faults) {
            ++list.faults;
            report->Err("%s: %s: %s\n", options.path.c_str(), file.extrasOrigin.c_str(),
                        fault.c_str());
        }
    }
    if (file.texts.data) {
        std::vector<std::string> lines, faults;
        DescribeUnicodeTexts(file.texts, &lines, &faults);
        report->Out("\ntexts as UTF-16 (%s)\n", file.textsOrigin.c_str());
        for (const std::string& line : lines) report->Out("  %s\n", line.c_str());
        for (const std::string& fault : faults) {
            ++list.faults;
            report->Err("%s: %s: %s\n", options.path.c_str(), file.textsOrigin.c_str(),
                        fault.c_str());
        }
    }
    return list.faults || broken ? Outcome::Faulty : Outcome::Done;
}
