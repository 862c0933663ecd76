// SPDX-License-Identifier: MIT
#include "authoring/package_check.h"

#include "authoring/extras_check.h"

#include <zlib.h>
// The system's header by its full path, as in build.cpp.
#include TIDEPACK_LIBDEFLATE_H

#include <algorithm>
#include <cinttypes>
#include <map>
#include <utility>

#include "base/text.h"
#include "authoring/code_page.h"
#include "rules/targets.h"
#include "program/dialog_view.h"
#include "program/identity.h"
#include "signing/signature.h"

namespace {

using StreamKey = std::pair<std::uint32_t, std::uint32_t>;  // streamOffset, compressedSize

// Entries may share a stream: each is inflated once, as far as its largest size needs.
// Streams that overlap without being the same are never written by tidepack.
struct SharedStream {
    std::uint32_t largestSize;
    std::int32_t entry;  // the first that names it
};
using SharedStreams = std::map<StreamKey, SharedStream>;

// Whether libdeflate, which the update program inflates with, makes exactly `size` bytes of the
// stream with its Adler-32 right. No stream inflates more than 1,032 times its length, so a
// larger size is refused before it is allocated.
bool LibdeflateTakes(const unsigned char* stream, std::uint32_t compressedSize,
                     std::uint32_t size) {
    if (size > std::uint64_t{compressedSize} * 1032) return false;
    libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
    if (!decompressor) return false;
    std::vector<unsigned char> out(size);
    bool takes = libdeflate_zlib_decompress(decompressor, stream, compressedSize, out.data(), size,
                                            nullptr) == LIBDEFLATE_SUCCESS;
    libdeflate_free_decompressor(decompressor);
    return takes;
}

struct Verifier {
    const ListOptions& options;
    const PackageImage& image;
    Report* report;
    int faults = 0;
    int warnings = 0;

    void Fault(std::uint64_t offset, const std::string& what) {
        ++faults;
        report->Err("%s: offset %" PRIu64 ": %s\n", options.path.c_str(), offset, what.c_str());
    }

    void Warn(std::uint64_t offset, const std::string& what) {
        ++warnings;
        report->Err("%s: offset %" PRIu64 ": warning: %s\n", options.path.c_str(), offset,
                    what.c_str());
    }

    // The text of a field, which must end inside the field. Null when it does not.
    const char* Text(const char* field, std::size_t width, const std::string& name) {
        std::string text;
        bool inField;
        if (!FieldText(image, field, width, &text, &inField)) {
            Fault(FieldOffset(image, field), name + " has no end before the end of the package");
            return nullptr;
        }
        if (!inField) {
            Fault(FieldOffset(image, field),
                  name + " does not end inside its field of " + std::to_string(width) + " bytes");
            return nullptr;
        }
        return field;
    }

    // Checks that the stream ends exactly at `compressedSize` with exactly `size` bytes; zlib
    // checks the Adler-32. A stream zlib refuses and the update program would take is named
    // as such, so that no package ships that the two read differently.
    void Stream(const PackageEntry& entry, const unsigned char* stream, const Inflated& inflated,
                const std::string& where) {
        std::string at = "stream at offset " + std::to_string(entry.streamOffset) + ": ";
        if (inflated.result == Z_MEM_ERROR) {
            Fault(entry.streamOffset, where + "zlib could not start");
        } else if (inflated.produced > entry.size) {
            Fault(entry.streamOffset, where + at + "inflates to more than size " +
                                          std::to_string(entry.size) + " bytes");
        } else if ((inflated.result == Z_DATA_ERROR || inflated.result == Z_NEED_DICT) &&
                   LibdeflateTakes(stream, entry.compressedSize, entry.size)) {
            Fault(entry.streamOffset,
                  where + at +
                      "accepted by the update program, refused by zlib: " + inflated.message);
        } else if (inflated.result == Z_DATA_ERROR || inflated.result == Z_NEED_DICT) {
            Fault(entry.streamOffset, where + at + "damaged: zlib says " + inflated.message);
        } else if (inflated.result != Z_STREAM_END) {
            Fault(entry.streamOffset, where + at + "ends before the zlib stream does (" +
                                          std::to_string(entry.compressedSize) + " bytes)");
        } else if (inflated.produced != entry.size) {
            Fault(entry.streamOffset, where + at + "inflates to " +
                                          std::to_string(inflated.produced) + " bytes, not size " +
                                          std::to_string(entry.size));
        } else if (inflated.left != 0) {
            Fault(entry.streamOffset, where + at + std::to_string(inflated.left) +
                                          " bytes follow the zlib stream inside compressedSize");
        }
    }

    // A shortcut text: lines joined by CR LF, each "link path;arguments" with a known tag.
    void Shortcuts(const char* text, std::uint64_t offset, const std::string& where) {
        std::string all = text;
        int line = 0;
        for (std::size_t start = 0; start < all.size(); ++line) {
            std::size_t end = all.find("\r\n", start);
            if (end == std::string::npos) end = all.size();
            std::string one = all.substr(start, end - start);
            std::string name = where + "shortcut line " + std::to_string(line + 1) + ": ";
            std::size_t semicolon = one.find(';');
            if (semicolon == std::string::npos) {
                Fault(offset, name +
                                  "no semicolon, so the update program joins it to the next "
                                  "line or ignores it");
            } else {
                std::string linkPath = one.substr(0, semicolon);
                std::size_t first = linkPath.find_first_not_of(" \"");
                if (first == std::string::npos || ShortcutTagOf(linkPath.c_str() + first) < 0)
                    Fault(offset, name + "'" + DecodeText(one, options.codePage) +
                                      "' begins with no known tag");
            }
            start = end + 2;
        }
    }

    // The header's texts and its registry root. Gives defaultFolder; null when it has no end.
    const char* CheckHeader(const PackageHeader& header) {
        Text(header.title, sizeof header.title, "title");
        Text(header.versionText, sizeof header.versionText, "versionText");
        const char* registryKey =
            Text(header.registryKey, sizeof header.registryKey, "registryKey");
        Text(header.valueName, sizeof header.valueName, "valueName");
        const char* defaultFolder =
            Text(header.defaultFolder, sizeof header.defaultFolder, "defaultFolder");
        Text(header.subFolder, sizeof header.subFolder, "subFolder");
        if (registryKey && !BeginsWithName(registryKey, "HKEY_LOCAL_MACHINE\\") &&
            !BeginsWithName(registryKey, "HKEY_CURRENT_USER\\") &&
            !BeginsWithName(registryKey, "HKEY_CLASSES_ROOT\\"))
            Fault(FieldOffset(image, header.registryKey),
                  "registryKey begins with no root name and backslash");
        return defaultFolder;
    }

    void CheckRunningApps(const PackageHeader& header) {
        for (int k = 0; k < RUNNING_APP_COUNT; ++k) {
            const RunningAppRecord& app = header.runningApps[k];
            std::string where = "runningApps[" + std::to_string(k) + "].";
            Text(app.windowClass, sizeof app.windowClass, where + "windowClass");
            Text(app.message, sizeof app.message, where + "message");
            if (app.windowClass[0] == '\0' && app.message[0] != '\0')
                Warn(FieldOffset(image, &app), where +
                                                   "message is set but the record has no "
                                                   "window class, so it is never used");
        }
    }

    SharedStreams FindSharedStreams(std::int32_t count) {
        SharedStreams shared;
        for (std::int32_t i = 0; i < count; ++i) {
            const PackageEntry* entry;
            const unsigned char* stream;
            if (!GetPackageEntry(image, i, &entry)) break;
            if (!GetEntryStream(image, *entry, &stream) || entry->compressedSize == 0) continue;
            auto found = shared.emplace(StreamKey{entry->streamOffset, entry->compressedSize},
                                        SharedStream{0, i});
            found.first->second.largestSize =
                std::max(found.first->second.largestSize, entry->size);
        }
        return shared;
    }

    void CheckStreamOverlaps(const SharedStreams& shared) {
        auto streamEnd = [](const StreamKey& key) { return std::uint64_t{key.first} + key.second; };
        const SharedStreams::value_type* reaching = nullptr;  // the furthest end so far
        for (const auto& stream : shared) {
            const StreamKey& key = stream.first;
            if (reaching && key.first < streamEnd(reaching->first))
                Fault(HEADER_SIZE + std::uint64_t{ENTRY_SIZE} * stream.second.entry,
                      "entry " + std::to_string(stream.second.entry) + ": stream at offset " +
                          std::to_string(key.first) + ", " + std::to_string(key.second) +
                          " bytes, overlaps entry " + std::to_string(reaching->second.entry) +
                          "'s stream at offset " + std::to_string(reaching->first.first) + ", " +
                          std::to_string(reaching->first.second) + " bytes");
            if (!reaching || streamEnd(key) > streamEnd(reaching->first)) reaching = &stream;
        }
    }

    // Entry `i`'s name, its folder and the target they make against `installDir` (null: none
    // known), and its shortcut lines. Gives how later faults name the entry.
    std::string CheckEntryTexts(std::int32_t i, const PackageEntry& entry, const char* installDir) {
        std::uint64_t at = FieldOffset(image, &entry);
        std::string where = "entry " + std::to_string(i) + ": ";
        const char* fileName = Text(entry.fileName, sizeof entry.fileName, where + "fileName");
        const char* folder = Text(entry.folder, sizeof entry.folder, where + "folder");
        const char* shortcuts =
            Text(entry.shortcutText, sizeof entry.shortcutText, where + "shortcutText");
        if (fileName)
            where = "entry " + std::to_string(i) + " (" + DecodeText(fileName, options.codePage) +
                    "): ";
        std::string fault;
        if (fileName && !(fault = NameFault(fileName, options.codePage, NameKind::File)).empty())
            Fault(at, where + "fileName " + fault);
        if (folder && FilePlaceholderOf(folder) < 0) {
            Fault(at, where + "folder begins with no file placeholder; the entry is skipped");
        } else if (folder &&
                   !(fault = NameFault(folder, options.codePage, NameKind::Folder)).empty()) {
            Fault(at, where + "folder " + fault);
        } else if (fileName && folder) {
            char target[PATH_TEXT_SIZE];
            if (!ResolveTargetPath(fileName, folder, installDir, target))
                Fault(at, where + "no target against defaultFolder (over " +
                              std::to_string(PATH_TEXT_SIZE - 1) + " characters)");
        }
        if (shortcuts) Shortcuts(shortcuts, FieldOffset(image, entry.shortcutText), where);
        return where;
    }

    // The entry's stream lies inside the package, behind the entry table, and inflates as its
    // sizes say. A stream shared with earlier entries is taken from `inflated`.
    void CheckEntryStream(const PackageEntry& entry, const std::string& where,
                          std::uint64_t tableEnd, const SharedStreams& shared,
                          std::map<StreamKey, Inflated>* inflated) {
        std::uint64_t at = FieldOffset(image, &entry);
        const unsigned char* stream;
        if (!GetEntryStream(image, entry, &stream)) {
            Fault(at, where + "stream at offset " + std::to_string(entry.streamOffset) + ", " +
                          std::to_string(entry.compressedSize) +
                          " bytes, lies outside the package");
            return;
        }
        if (entry.compressedSize > 0 && entry.streamOffset < tableEnd)
            Fault(at, where + "stream at offset " + std::to_string(entry.streamOffset) +
                          " overlaps the header or the entry table");
        StreamKey key{entry.streamOffset, entry.compressedSize};
        auto done = inflated->find(key);
        if (done == inflated->end()) {
            auto limit = shared.find(key);
            std::uint32_t size = limit == shared.end() ? entry.size : limit->second.largestSize;
            done =
                inflated->emplace(key, InflateInPieces(stream, entry.compressedSize, size)).first;
        }
        Stream(entry, stream, done->second, where);
    }

    // Every entry the table holds, as far as it can be read. Gives the last entry; null when
    // there is none or it cannot be read.
    const PackageEntry* CheckEntries(std::int32_t count, std::uint64_t tableEnd,
                                     const char* installDir) {
        SharedStreams shared = FindSharedStreams(count);
        CheckStreamOverlaps(shared);
        std::map<StreamKey, Inflated> inflated;
        const PackageEntry* last = nullptr;
        int runAfter = 0;
        for (std::int32_t i = 0; i < count; ++i) {
            const PackageEntry* entry;
            if (!GetPackageEntry(image, i, &entry)) break;
            if (i == count - 1) last = entry;
            std::string where = CheckEntryTexts(i, *entry, installDir);
            if (entry->flags & ENTRY_RUN_AFTER && ++runAfter == RUN_AFTER_CAPACITY + 1)
                Fault(FieldOffset(image, entry), where + "more than " +
                                                     std::to_string(RUN_AFTER_CAPACITY) +
                                                     " entries are marked ENTRY_RUN_AFTER");
            CheckEntryStream(*entry, where, tableEnd, shared, &inflated);
        }
        return last;
    }

    // The update program looks for the move table right behind the last entry's stream, so a
    // stream that ends further would be read as moves.
    void CheckStreamsEndByLast(std::int32_t count, const PackageEntry& last) {
        std::uint64_t table = static_cast<std::uint64_t>(last.streamOffset) + last.compressedSize;
        for (std::int32_t i = 0; i < count - 1; ++i) {
            const PackageEntry* entry;
            if (GetPackageEntry(image, i, &entry) &&
                static_cast<std::uint64_t>(entry->streamOffset) + entry->compressedSize > table)
                Fault(FieldOffset(image, entry), "entry " + std::to_string(i) +
                                                     "'s stream ends behind the last "
                                                     "entry's, where the move table is found");
        }
    }

    void CheckMove(std::int32_t r, std::uint64_t at, const ShortcutMoveRecord& record) {
        std::string where = "move " + std::to_string(r) + ": ";
        const char* from = Text(record.from, sizeof record.from, where + "from");
        const char* to = Text(record.to, sizeof record.to, where + "to");
        if (from && ShortcutTagOf(from) < 0)
            Fault(at, where + "from begins with no known tag; the move does nothing");
        if (to && to[0] != '\0' && ShortcutTagOf(to) < 0)
            Warn(at, where + "to begins with no known tag; the shortcut is deleted");
    }

    // The move table behind the last entry's stream and every move in it. Gives where the
    // package's bytes end: behind the table, or at the image's end when it cannot be read.
    std::uint64_t CheckMoveTable(const PackageEntry& last, std::int32_t* moveCount) {
        std::uint64_t table = static_cast<std::uint64_t>(last.streamOffset) + last.compressedSize;
        std::uint32_t tableOffset;
        if (!GetMoveTableOffset(image, last, &tableOffset) ||
            !GetMoveCount(image, tableOffset, moveCount)) {
            Fault(table, "the move table behind the last entry's stream lies past the end");
            return image.size;
        }
        std::uint64_t end = tableOffset + MOVE_COUNT_SIZE;
        for (std::int32_t r = 0; r < *moveCount; ++r) {
            const ShortcutMoveRecord* record;
            std::uint64_t at =
                tableOffset + MOVE_COUNT_SIZE + static_cast<std::uint64_t>(MOVE_RECORD_SIZE) * r;
            if (!GetMoveRecord(image, tableOffset, r, &record)) {
                Fault(at, "move " + std::to_string(r) + " of " + std::to_string(*moveCount) +
                              " reaches past the end");
                return image.size;
            }
            end = at + MOVE_RECORD_SIZE;
            CheckMove(r, at, *record);
        }
        return end;
    }
};

}  // namespace

void DescribeUnicodeTexts(const UnicodeTextsImage& texts, std::vector<std::string>* lines,
                          std::vector<std::string>* faults) {
    const UnicodeTextsHeader* header;
    if (!GetUnicodeTextsHeader(texts, &header)) {
        faults->push_back("the texts as UTF-16 are not readable: " + std::to_string(texts.size) +
                          " bytes without a whole header of format " +
                          std::to_string(UNICODE_TEXTS_FORMAT_VERSION) +
                          " and its records; the program shows the package's own texts");
        return;
    }
    for (std::uint32_t k = 0; k < header->textCount; ++k) {
        UnicodeTextRecord record;
        if (!GetUnicodeTextRecord(texts, k, &record)) {
            faults->push_back("text " + std::to_string(k) +
                              " of the texts as UTF-16 lies outside them, is longer than " +
                              std::to_string(UNICODE_TEXT_MAX_UNITS) + " or holds a NUL");
            continue;
        }
        static const char* const names[] = {"?",       "title",   "versionText",
                                            "message", "welcome", "explain"};
        std::string name = record.kind <= UTEXT_EXPLAIN ? names[record.kind]
                                                        : "kind " + std::to_string(record.kind);
        if (record.kind == UTEXT_MESSAGE) name += " " + std::to_string(record.index);
        if (record.language) name += " " + std::to_string(record.language);
        std::u16string text;
        for (std::uint32_t u = 0; u < record.length; ++u)
            text += static_cast<char16_t>(texts.data[record.offset + 2 * u] |
                                          texts.data[record.offset + 2 * u + 1] << 8);
        std::string shown;
        for (char c : Utf8Of(text))
            shown += c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
        lines->push_back(name + ": " + shown);
    }
}

void ReportCustomerView(const ListOptions& options, const PackageFile& file, bool listing,
                        Report* report) {
    const PackageHeader* header;
    if (file.origin.empty() || !GetPackageHeader(file.image, &header)) return;
    const char* title = PackageText(file.image, header->title);
    const char* versionText = PackageText(file.image, header->versionText);
    bool titleUnicode, versionUnicode;
    std::u16string shownTitle = ShownText(
        file.texts, UTEXT_TITLE, title ? DecodeText(title, options.codePage) : "", &titleUnicode);
    std::u16string shownVersion =
        ShownText(file.texts, UTEXT_VERSION,
                  versionText ? DecodeText(versionText, options.codePage) : "", &versionUnicode);
    ReportProgramView(options.path, file.bytes, shownTitle, titleUnicode, shownVersion, file.texts,
                      listing, report);
}

Outcome CheckPackage(const ListOptions& options, Report* report) {
    PackageFile file;
    std::string error;
    if (!LoadPackageFile(options.path, &file, &error)) {
        report->Err("%s: %s\n", options.path.c_str(), error.c_str());
        return Outcome::Faulty;
    }
    return CheckLoadedPackage(options, file, report);
}

Outcome CheckLoadedPackage(const ListOptions& options, const PackageFile& file, Report* report) {
    const PackageImage& image = file.image;
    Verifier check{options, image, report};
    SetPlatformCodePage(options.codePage);
    check.faults += ReportSignature(options.path, file.bytes, false, report);
    if (options.requireSignature) {
        SignatureState state = CheckSignature(file.bytes.data(), file.bytes.size()).state;
        if (state == SignatureState::Unsigned || state == SignatureState::NotProgram) {
            ++check.faults;
            report->Err("%s: %s, and --require-signature asks for a signed patch program\n",
                        options.path.c_str(),
                        state == SignatureState::Unsigned ? "not signed"
                                                          : "a package, which is never signed");
        }
    }
    ReportIdentity(options.path, file.bytes, false, report);
    ReportCustomerView(options, file, false, report);
    std::uint64_t noticesAt;
    std::uint32_t noticesSize;
    if (FindNotices(file.bytes, &noticesAt, &noticesSize))
        report->Out("%s: notices: resource NOTICES 1, %" PRIu32 " bytes at offset %" PRIu64 "\n",
                    options.path.c_str(), noticesSize, noticesAt);
    else if (!file.origin.empty())
        report->Out("%s: notices: none (a program not built from Tidewell's sources)\n",
                    options.path.c_str());
    const PackageHeader* header;
    if (!GetPackageHeader(image, &header)) {
        check.Fault(0, "not a package: " + std::to_string(image.size) +
                           " bytes is shorter than a package header");
        return Outcome::Faulty;
    }
    const char* defaultFolder = check.CheckHeader(*header);
    check.CheckRunningApps(*header);

    char installDir[PATH_TEXT_SIZE];
    bool haveInstall = defaultFolder && TextCopy(installDir, sizeof installDir, defaultFolder);
    std::int32_t count = header->entryCount;
    std::uint64_t tableEnd = HEADER_SIZE;
    if (count > 0) tableEnd += static_cast<std::uint64_t>(ENTRY_SIZE) * count;
    if (tableEnd > image.size)
        check.Fault(HEADER_SIZE, "the table of " + std::to_string(count) +
                                     " entries reaches past the end of the package");
    const PackageEntry* last =
        check.CheckEntries(count, tableEnd, haveInstall ? installDir : nullptr);

    std::int32_t moveCount = 0;
    std::uint64_t end = tableEnd;
    if (last) {
        check.CheckStreamsEndByLast(count, *last);
        end = check.CheckMoveTable(*last, &moveCount);
    }
    if (end < image.size)
        check.Warn(end, std::to_string(image.size - end) +
                            " bytes after the end of the package "
                            "are never read");
    std::string extras;
    if (file.extras.data) {
        ExtrasDescription described =
            DescribeExtras(file.extras, options.codePage, haveInstall ? installDir : nullptr);
        for (const std::string& fault : described.faults) {
            ++check.faults;
            report->Err("%s: %s: %s\n", options.path.c_str(), file.extrasOrigin.c_str(),
                        fault.c_str());
        }
        extras = "; beside it " +
                 Count(described.folders, "folder to create", "folders to create") + ", " +
                 Count(described.removals, "file to remove", "files to remove") + ", " +
                 Count(described.values, "registry value") + " (" + file.extrasOrigin + ")";
    }
    if (file.texts.data) {
        std::vector<std::string> lines, faults;
        DescribeUnicodeTexts(file.texts, &lines, &faults);
        for (const std::string& fault : faults) {
            ++check.faults;
            report->Err("%s: %s: %s\n", options.path.c_str(), file.textsOrigin.c_str(),
                        fault.c_str());
        }
        extras += "; " + Count(lines.size(), "text") + " as UTF-16 (" + file.textsOrigin + ")";
    }
    if (check.faults) {
        report->Err("%s: %d fault%s\n", options.path.c_str(), check.faults,
                    check.faults == 1 ? "" : "s");
        return Outcome::Faulty;
    }
    report->Out("%s: ok: %s, %s, %" PRIu32 " bytes%s%s%s\n", options.path.c_str(),
                Count(count > 0 ? count : 0, "entry", "entries").c_str(),
                Count(moveCount > 0 ? moveCount : 0, "shortcut move").c_str(), image.size,
                file.origin.empty() ? "" : " in ", file.origin.c_str(), extras.c_str());
    return Outcome::Done;
}
