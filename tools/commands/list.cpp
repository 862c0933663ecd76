#include <cinttypes>

#include "base/text.h"
#include "authoring/code_page.h"
#include "authoring/package_file.h"
#include "rules/targets.h"
#include "signing/sign.h"
#include "commands/tidepack.h"

namespace {

struct Lister {
    const ListOptions& options;
    const PackageImage& image;
    std::FILE* out;
    std::FILE* err;
    int faults = 0;

    void Fault(std::uint64_t offset, const std::string& what) {
        ++faults;
        std::fprintf(err, "tidepack: %s: offset %" PRIu64 ": %s\n", options.path.c_str(), offset,
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
};

}  // namespace

int ListPackage(const ListOptions& options, std::FILE* out, std::FILE* err) {
    PackageFile file;
    std::string error;
    if (!LoadPackageFile(options.path, &file, &error)) {
        std::fprintf(err, "tidepack: %s: %s\n", options.path.c_str(), error.c_str());
        return EXIT_FAULT;
    }
    std::string windowsDir, systemDir, installDir;
    if (!EncodeText(options.windowsDir, options.codePage, &windowsDir, &error) ||
        !EncodeText(options.systemDir, options.codePage, &systemDir, &error) ||
        (options.haveInstallDir &&
         !EncodeText(options.installDir, options.codePage, &installDir, &error))) {
        std::fprintf(err, "tidepack: a folder option: %s\n", error.c_str());
        return EXIT_USAGE;
    }
    SetPlatformFolders(windowsDir, systemDir);
    SetPlatformCodePage(options.codePage);

    const PackageImage& image = file.image;
    Lister list{options, image, out, err};
    std::fprintf(out, "file           %s\n", options.path.c_str());
    if (!file.origin.empty()) std::fprintf(out, "package        %s\n", file.origin.c_str());
    std::fprintf(out, "size           %" PRIu32 " bytes\n", image.size);
    int broken = ReportSignature(options.path, file.bytes, true, out, err);

    const PackageHeader* header;
    if (!GetPackageHeader(image, &header)) {
        list.Fault(0, "not a package: " + std::to_string(image.size) +
                          " bytes is shorter than a package header (" +
                          std::to_string(HEADER_SIZE) + " bytes)");
        return EXIT_FAULT;
    }
    std::fprintf(out, "\nheader\n");
    std::fprintf(out, "  reserved       0x%08" PRIX32 "\n", header->reserved);
    std::fprintf(out, "  title          %s\n",
                 list.Text(header->title, sizeof header->title, "title").c_str());
    std::fprintf(out, "  versionText    %s\n",
                 list.Text(header->versionText, sizeof header->versionText, "versionText").c_str());
    std::fprintf(out, "  registryKey    %s\n",
                 list.Text(header->registryKey, sizeof header->registryKey, "registryKey").c_str());
    std::fprintf(out, "  valueName      %s\n",
                 list.Text(header->valueName, sizeof header->valueName, "valueName").c_str());
    std::fprintf(
        out, "  defaultFolder  %s\n",
        list.Text(header->defaultFolder, sizeof header->defaultFolder, "defaultFolder").c_str());
    std::fprintf(out, "  subFolder      %s\n",
                 list.Text(header->subFolder, sizeof header->subFolder, "subFolder").c_str());
    std::fprintf(out, "  entryCount     %" PRId32 "\n", header->entryCount);

    // Targets resolve against the given folder, else against defaultFolder as it stands.
    char installFolder[PATH_TEXT_SIZE];
    const char* defaultFolder = PackageText(image, header->defaultFolder);
    int haveInstall =
        options.haveInstallDir
            ? TextCopy(installFolder, sizeof installFolder, installDir.c_str())
            : defaultFolder && TextCopy(installFolder, sizeof installFolder, defaultFolder);
    std::fprintf(out, "  install folder %s (%s)\n",
                 haveInstall ? DecodeText(installFolder, options.codePage).c_str() : "unknown",
                 options.haveInstallDir ? "--install-dir" : "defaultFolder");

    std::fprintf(out, "\nrunning applications\n");
    int inUse = 0;
    for (int k = 0; k < RUNNING_APP_COUNT; ++k) {
        const RunningAppRecord& app = header->runningApps[k];
        if (app.windowClass[0] == '\0') continue;
        ++inUse;
        std::string where = "runningApps[" + std::to_string(k) + "].";
        std::fprintf(
            out, "  [%d] windowClass %s\n", k,
            list.Text(app.windowClass, sizeof app.windowClass, where + "windowClass").c_str());
        std::fprintf(out, "      message     %s\n",
                     list.Text(app.message, sizeof app.message, where + "message").c_str());
    }
    if (inUse == 0) std::fprintf(out, "  none in use\n");

    std::fprintf(out, "\nentries\n");
    if (header->entryCount <= 0) std::fprintf(out, "  none\n");
    const PackageEntry* last = nullptr;
    for (std::int32_t i = 0; i < header->entryCount; ++i) {
        const PackageEntry* entry;
        if (!GetPackageEntry(image, i, &entry)) {
            list.Fault(HEADER_SIZE + static_cast<std::uint64_t>(ENTRY_SIZE) * i,
                       "entry " + std::to_string(i) + " of " + std::to_string(header->entryCount) +
                           " reaches past the end of the package; the rest cannot be read");
            break;
        }
        if (i == header->entryCount - 1) last = entry;
        std::string where = "entry " + std::to_string(i) + " ";
        std::fprintf(
            out, "  [%" PRId32 "] size %" PRIu32 ", compressed %" PRIu32 " at offset %" PRIu32 "\n",
            i, entry->size, entry->compressedSize, entry->streamOffset);
        std::fprintf(out, "      flags    0x%02" PRIX32 " %s\n", entry->flags,
                     FlagNames(entry->flags).c_str());
        std::fprintf(
            out, "      fileName %s\n",
            list.Text(entry->fileName, sizeof entry->fileName, where + "fileName").c_str());
        std::fprintf(out, "      folder   %s\n",
                     list.Text(entry->folder, sizeof entry->folder, where + "folder").c_str());
        const char* fileName = PackageText(image, entry->fileName);
        const char* folder = PackageText(image, entry->folder);
        char target[PATH_TEXT_SIZE];
        if (fileName && folder &&
            ResolveTargetPath(fileName, folder, haveInstall ? installFolder : nullptr, target))
            std::fprintf(out, "      target   %s\n", DecodeText(target, options.codePage).c_str());
        else
            std::fprintf(out, "      target   no target\n");
        std::string shortcuts;
        list.Raw(entry->shortcutText, sizeof entry->shortcutText, where + "shortcutText",
                 &shortcuts);
        for (std::size_t start = 0; start < shortcuts.size();) {
            std::size_t end = shortcuts.find("\r\n", start);
            if (end == std::string::npos) end = shortcuts.size();
            std::fprintf(
                out, "      shortcut %s\n",
                DecodeText(shortcuts.substr(start, end - start), options.codePage).c_str());
            start = end + 2;
        }
        const unsigned char* stream;
        if (!GetEntryStream(image, *entry, &stream))
            list.Fault(FieldOffset(image, entry), where + "stream at offset " +
                                                      std::to_string(entry->streamOffset) + ", " +
                                                      std::to_string(entry->compressedSize) +
                                                      " bytes, lies outside the package");
    }

    std::fprintf(out, "\nshortcut moves\n");
    std::uint32_t table;
    std::int32_t moveCount = 0;
    if (header->entryCount <= 0) {
        std::fprintf(out, "  none (without entries there is no move table)\n");
    } else if (!last) {
        std::fprintf(out, "  not readable\n");
    } else if (!GetMoveTableOffset(image, *last, &table) ||
               !GetMoveCount(image, table, &moveCount)) {
        std::fprintf(out, "  not readable\n");
        list.Fault(
            static_cast<std::uint64_t>(last->streamOffset) + last->compressedSize,
            "the move table behind the last entry's stream lies past the end of the package");
    } else {
        std::fprintf(out, "  moveCount %" PRId32 " at offset %" PRIu32 "\n", moveCount, table);
        for (std::int32_t r = 0; r < moveCount; ++r) {
            const ShortcutMoveRecord* record;
            if (!GetMoveRecord(image, table, r, &record)) {
                list.Fault(
                    table + MOVE_COUNT_SIZE + static_cast<std::uint64_t>(MOVE_RECORD_SIZE) * r,
                    "move " + std::to_string(r) + " of " + std::to_string(moveCount) +
                        " reaches past the end of the package");
                break;
            }
            std::string where = "move " + std::to_string(r) + " ";
            std::fprintf(out, "  [%" PRId32 "] from %s\n", r,
                         list.Text(record->from, sizeof record->from, where + "from").c_str());
            std::string to = list.Text(record->to, sizeof record->to, where + "to");
            std::fprintf(out, "      to   %s\n", to.empty() ? "(empty: delete)" : to.c_str());
        }
    }
    return list.faults || broken ? EXIT_FAULT : 0;
}
