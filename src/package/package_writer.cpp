// SPDX-License-Identifier: MIT
#include "package/package_writer.h"

#include <zlib.h>

#include <cstring>

#include "package/package.h"

namespace {

bool PutText(char* field, std::size_t width, const std::string& text, const char* name,
             std::string* error) {
    if (text.size() >= width || text.find('\0') != std::string::npos) {
        *error = std::string(name) + " does not fit its field of " + std::to_string(width) +
                 " bytes (" + std::to_string(text.size()) + " bytes and a terminator)";
        return false;
    }
    std::memcpy(field, text.data(), text.size());
    return true;
}

}  // namespace

int CompressStream(const std::vector<unsigned char>& data, int level,
                   std::vector<unsigned char>* stream) {
    uLongf length = compressBound(static_cast<uLong>(data.size()));
    stream->assign(length, 0);
    const Bytef* source = data.empty() ? reinterpret_cast<const Bytef*>("") : data.data();
    if (compress2(stream->data(), &length, source, static_cast<uLong>(data.size()), level) != Z_OK)
        return 0;
    stream->resize(length);
    return 1;
}

int BuildPackage(const WriterPackage& package, std::vector<unsigned char>* out,
                 std::string* error) {
    const std::size_t count = package.entries.size();
    if (package.runningApps.size() > RUNNING_APP_COUNT) {
        *error = "more than " + std::to_string(RUNNING_APP_COUNT) + " running applications";
        return 0;
    }
    if (count > 0x7FFFFFFF / ENTRY_SIZE) {
        *error = "too many entries";
        return 0;
    }
    std::vector<std::size_t> order = package.streamOrder;
    if (order.empty()) {
        for (std::size_t i = 0; i < count; ++i) order.push_back(i);
    }
    std::vector<bool> seen(count, false);
    bool valid = order.size() == count;
    for (std::size_t i : order) {
        valid = valid && i < count && !seen[i];
        if (valid) seen[i] = true;
    }
    if (!valid || (count > 0 && order.back() != count - 1)) {
        *error = "stream order must list every entry once and end with the last entry";
        return 0;
    }

    std::vector<std::vector<unsigned char>> streams(count);
    std::uint64_t total = HEADER_SIZE + static_cast<std::uint64_t>(ENTRY_SIZE) * count;
    for (std::size_t i = 0; i < count; ++i) {
        const WriterEntry& entry = package.entries[i];
        if (!entry.stream.empty()) {
            streams[i] = entry.stream;
        } else if (!CompressStream(entry.data, package.level, &streams[i])) {
            *error = "entry " + std::to_string(i) + ": zlib could not compress the data";
            return 0;
        }
        if (entry.data.size() > 0xFFFFFFFFu) {
            *error = "entry " + std::to_string(i) + " is larger than 4 GiB";
            return 0;
        }
        total += streams[i].size();
    }
    total += MOVE_COUNT_SIZE + static_cast<std::uint64_t>(MOVE_RECORD_SIZE) * package.moves.size();
    if (total > 0xFFFFFFFFu) {
        *error = "the package would be larger than 4 GiB";
        return 0;
    }

    out->assign(static_cast<std::size_t>(total), 0);
    PackageHeader* header = reinterpret_cast<PackageHeader*>(out->data());
    header->reserved = package.reserved;
    bool ok =
        PutText(header->title, sizeof header->title, package.title, "title", error) &&
        PutText(header->versionText, sizeof header->versionText, package.versionText, "versionText",
                error) &&
        PutText(header->registryKey, sizeof header->registryKey, package.registryKey, "registryKey",
                error) &&
        PutText(header->valueName, sizeof header->valueName, package.valueName, "valueName",
                error) &&
        PutText(header->defaultFolder, sizeof header->defaultFolder, package.defaultFolder,
                "defaultFolder", error) &&
        PutText(header->subFolder, sizeof header->subFolder, package.subFolder, "subFolder", error);
    header->entryCount = static_cast<std::int32_t>(count);
    for (std::size_t k = 0; ok && k < package.runningApps.size(); ++k) {
        RunningAppRecord& app = header->runningApps[k];
        const WriterRunningApp& source = package.runningApps[k];
        ok = PutText(app.windowClass, sizeof app.windowClass, source.windowClass, "windowClass",
                     error) &&
             PutText(app.message, sizeof app.message, source.message, "message", error);
    }

    std::uint32_t position = HEADER_SIZE + ENTRY_SIZE * static_cast<std::uint32_t>(count);
    for (std::size_t i : order) {
        if (!ok) break;
        PackageEntry* entry =
            reinterpret_cast<PackageEntry*>(out->data() + HEADER_SIZE + ENTRY_SIZE * i);
        const WriterEntry& source = package.entries[i];
        std::string where = "entry " + std::to_string(i) + " ";
        entry->streamOffset = position;
        entry->compressedSize = static_cast<std::uint32_t>(streams[i].size());
        entry->size = static_cast<std::uint32_t>(source.data.size());
        entry->flags = source.flags;
        ok = PutText(entry->fileName, sizeof entry->fileName, source.fileName,
                     (where + "fileName").c_str(), error) &&
             PutText(entry->folder, sizeof entry->folder, source.folder, (where + "folder").c_str(),
                     error) &&
             PutText(entry->shortcutText, sizeof entry->shortcutText, source.shortcutText,
                     (where + "shortcutText").c_str(), error);
        if (!streams[i].empty())
            std::memcpy(out->data() + position, streams[i].data(), streams[i].size());
        position += static_cast<std::uint32_t>(streams[i].size());
    }
    if (!ok) {
        out->clear();
        return 0;
    }

    std::int32_t moveCount = static_cast<std::int32_t>(package.moves.size());
    std::memcpy(out->data() + position, &moveCount, 4);
    position += MOVE_COUNT_SIZE;
    for (std::size_t r = 0; ok && r < package.moves.size(); ++r) {
        ShortcutMoveRecord* record = reinterpret_cast<ShortcutMoveRecord*>(out->data() + position);
        std::string where = "move " + std::to_string(r) + " ";
        ok = PutText(record->from, sizeof record->from, package.moves[r].from,
                     (where + "from").c_str(), error) &&
             PutText(record->to, sizeof record->to, package.moves[r].to, (where + "to").c_str(),
                     error);
        position += MOVE_RECORD_SIZE;
    }
    if (!ok) out->clear();
    return ok ? 1 : 0;
}
