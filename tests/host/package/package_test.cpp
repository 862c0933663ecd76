// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <cwchar>
#include <functional>
#include <string>
#include <vector>

#include "package/package.h"
#include "package/package_writer.h"
#include "package/unicode_texts_writer.h"

namespace {

std::vector<unsigned char> Bytes(const std::string& text) {
    return std::vector<unsigned char>(text.begin(), text.end());
}

WriterPackage SamplePackage() {
    WriterPackage package;
    package.title = "Example Suite";
    package.versionText = "2.4.0.7";
    package.registryKey = "HKEY_LOCAL_MACHINE\\Software\\Example\\Suite";
    package.valueName = "InstallDir";
    package.defaultFolder = "C:\\Program Files\\Example";
    package.runningApps = {{"ExampleMain", "Close Example first."}};
    package.entries = {
        {"tool.exe",
         "<InstallDir>",
         "<Desktop>\\Tool;",
         ENTRY_ALWAYS_REPLACE | ENTRY_RUN_AFTER,
         Bytes("MZ tool bytes"),
         {}},
        {"shared.dll", "<SystemDir>", "", 0, Bytes(std::string(5000, 'x')), {}},
        {"empty.txt", "<InstallDir>\\Data", "", 0, {}, {}},
    };
    package.moves = {{"<Desktop>\\Old", "<ProgramMenu>\\New"}, {"<Desktop>\\Gone", ""}};
    return package;
}

std::vector<unsigned char> Build(const WriterPackage& package) {
    std::vector<unsigned char> bytes;
    std::string error;
    EXPECT_EQ(1, BuildPackage(package, &bytes, &error)) << error;
    return bytes;
}

std::vector<unsigned char> Inflate(const PackageImage& image, const PackageEntry& entry) {
    const unsigned char* stream;
    if (!GetEntryStream(image, entry, &stream)) return {};
    std::vector<unsigned char> data(entry.size + 1);
    uLongf length = entry.size;
    EXPECT_EQ(Z_OK, uncompress(data.data(), &length, stream, entry.compressedSize));
    data.resize(length);
    return data;
}

TEST(Package, RoundTripKeepsEveryField) {
    WriterPackage package = SamplePackage();
    std::vector<unsigned char> bytes = Build(package);
    PackageImage image{bytes.data(), static_cast<std::uint32_t>(bytes.size())};

    const PackageHeader* header;
    ASSERT_EQ(1, GetPackageHeader(image, &header));
    EXPECT_EQ(0x1060u, header->reserved);
    EXPECT_STREQ("Example Suite", PackageText(image, header->title));
    EXPECT_STREQ("2.4.0.7", PackageText(image, header->versionText));
    EXPECT_STREQ("InstallDir", PackageText(image, header->valueName));
    EXPECT_EQ(3, header->entryCount);
    EXPECT_STREQ("ExampleMain", header->runningApps[0].windowClass);
    EXPECT_STREQ("", header->runningApps[1].windowClass);

    std::uint32_t expectedOffset = HEADER_SIZE + 3 * ENTRY_SIZE;
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const PackageEntry* entry;
        ASSERT_EQ(1, GetPackageEntry(image, i, &entry));
        EXPECT_EQ(expectedOffset, entry->streamOffset) << "streams lie in entry order";
        expectedOffset += entry->compressedSize;
        EXPECT_STREQ(package.entries[i].fileName.c_str(), PackageText(image, entry->fileName));
        EXPECT_STREQ(package.entries[i].folder.c_str(), PackageText(image, entry->folder));
        EXPECT_STREQ(package.entries[i].shortcutText.c_str(),
                     PackageText(image, entry->shortcutText));
        EXPECT_EQ(package.entries[i].flags, entry->flags);
        EXPECT_EQ(package.entries[i].data, Inflate(image, *entry));
    }

    const PackageEntry* last;
    ASSERT_EQ(1, GetPackageEntry(image, 2, &last));
    std::uint32_t table;
    ASSERT_EQ(1, GetMoveTableOffset(image, *last, &table));
    std::int32_t moveCount;
    ASSERT_EQ(1, GetMoveCount(image, table, &moveCount));
    ASSERT_EQ(2, moveCount);
    const ShortcutMoveRecord* record;
    ASSERT_EQ(1, GetMoveRecord(image, table, 1, &record));
    EXPECT_STREQ("<Desktop>\\Gone", record->from);
    EXPECT_STREQ("", record->to);
    EXPECT_EQ(bytes.size(), table + MOVE_COUNT_SIZE + 2 * MOVE_RECORD_SIZE) << "nothing follows";
    EXPECT_EQ(0, GetMoveRecord(image, table, 2, &record));
}

TEST(Package, StreamsOutOfEntryOrderStillReadAndMoveTableFollowsLastEntry) {
    WriterPackage package = SamplePackage();
    package.streamOrder = {1, 0, 2};
    std::vector<unsigned char> bytes = Build(package);
    PackageImage image{bytes.data(), static_cast<std::uint32_t>(bytes.size())};
    const PackageEntry* first;
    const PackageEntry* second;
    ASSERT_EQ(1, GetPackageEntry(image, 0, &first));
    ASSERT_EQ(1, GetPackageEntry(image, 1, &second));
    EXPECT_GT(first->streamOffset, second->streamOffset);
    EXPECT_EQ(package.entries[0].data, Inflate(image, *first));
    EXPECT_EQ(package.entries[1].data, Inflate(image, *second));

    package.streamOrder = {2, 0, 1};
    std::string error;
    EXPECT_EQ(0, BuildPackage(package, &bytes, &error)) << "the last entry's stream goes last";
    package.streamOrder = {0, 0, 2};
    EXPECT_EQ(0, BuildPackage(package, &bytes, &error));
}

TEST(Package, WriterRefusesTextsThatDoNotFitTheirField) {
    struct Case {
        const char* name;
        void (*change)(WriterPackage&);
    } cases[] = {
        {"title of 64", [](WriterPackage& p) { p.title.assign(64, 'T'); }},
        {"version of 16", [](WriterPackage& p) { p.versionText.assign(16, '1'); }},
        {"six running apps", [](WriterPackage& p) { p.runningApps.resize(6); }},
        {"file name of 128", [](WriterPackage& p) { p.entries[0].fileName.assign(128, 'f'); }},
        {"shortcut text of 4096",
         [](WriterPackage& p) { p.entries[0].shortcutText.assign(4096, 's'); }},
        {"move target of 260", [](WriterPackage& p) { p.moves[0].to.assign(260, 'm'); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriterPackage package = SamplePackage();
        c.change(package);
        std::vector<unsigned char> bytes;
        std::string error;
        EXPECT_EQ(0, BuildPackage(package, &bytes, &error));
        EXPECT_FALSE(error.empty());
    }
    WriterPackage fits = SamplePackage();
    fits.title.assign(63, 'T');
    fits.entries[0].shortcutText.assign(4095, 's');
    Build(fits);
}

TEST(Package, SignedCountsOfZeroOrLessReadNothing) {
    std::vector<unsigned char> bytes = Build(SamplePackage());
    PackageImage image{bytes.data(), static_cast<std::uint32_t>(bytes.size())};
    PackageHeader* header = reinterpret_cast<PackageHeader*>(bytes.data());
    const PackageEntry* entry;
    for (std::int32_t count : {0, -1, INT32_MIN}) {
        SCOPED_TRACE(count);
        header->entryCount = count;
        EXPECT_EQ(0, GetPackageEntry(image, 0, &entry));
    }
    header->entryCount = INT32_MAX;
    EXPECT_EQ(1, GetPackageEntry(image, 2, &entry));
    EXPECT_EQ(0, GetPackageEntry(image, 3, &entry)) << "the table ends with the image";
    EXPECT_EQ(0, GetPackageEntry(image, INT32_MAX - 1, &entry));
    EXPECT_EQ(0, GetPackageEntry(image, -1, &entry));
}

TEST(Package, RangesPastTheImageAreRefused) {
    std::vector<unsigned char> bytes = Build(SamplePackage());
    PackageImage image{bytes.data(), static_cast<std::uint32_t>(bytes.size())};
    const PackageEntry* constEntry;
    ASSERT_EQ(1, GetPackageEntry(image, 0, &constEntry));
    PackageEntry* entry = const_cast<PackageEntry*>(constEntry);
    const std::uint32_t size = image.size;
    struct Case {
        std::uint32_t offset, length;
        int ok;
    } cases[] = {
        {0, size, 1},
        {size, 0, 1},
        {size, 1, 0},
        {size - 1, 2, 0},
        {0xFFFFFFFFu, 2, 0},
        {1, 0xFFFFFFFFu, 0},
        {0xFFFFFF00u, 0x100u, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.offset << "+" << c.length);
        entry->streamOffset = c.offset;
        entry->compressedSize = c.length;
        const unsigned char* stream = nullptr;
        EXPECT_EQ(c.ok, GetEntryStream(image, *entry, &stream));
        std::uint32_t table;
        EXPECT_EQ(static_cast<std::uint64_t>(c.offset) + c.length + 4 <= size ? 1 : 0,
                  GetMoveTableOffset(image, *entry, &table));
    }
    std::int32_t count;
    EXPECT_EQ(0, GetMoveCount(image, size - 3, &count));
    const ShortcutMoveRecord* record;
    EXPECT_EQ(0, GetMoveRecord(image, size - 4, 0, &record));
    EXPECT_EQ(0, GetMoveRecord(image, 0, INT32_MAX, &record));
}

TEST(Package, TextsMayRunPastTheirFieldButNeverPastTheImage) {
    std::vector<unsigned char> bytes = Build(SamplePackage());
    PackageHeader* header = reinterpret_cast<PackageHeader*>(bytes.data());
    std::memset(header->title, 'T', sizeof header->title);  // runs on into versionText
    PackageImage image{bytes.data(), static_cast<std::uint32_t>(bytes.size())};
    const char* title = PackageText(image, header->title);
    ASSERT_NE(nullptr, title);
    EXPECT_EQ(std::string(64, 'T') + "2.4.0.7", title);

    std::vector<unsigned char> tail(bytes.end() - 10, bytes.end());
    std::memset(tail.data(), 'x', tail.size());
    PackageImage small{tail.data(), static_cast<std::uint32_t>(tail.size())};
    EXPECT_EQ(nullptr, PackageText(small, reinterpret_cast<const char*>(tail.data())));
    EXPECT_EQ(nullptr, PackageText(small, reinterpret_cast<const char*>(tail.data() + 10)));
    tail[9] = 0;
    EXPECT_NE(nullptr, PackageText(small, reinterpret_cast<const char*>(tail.data() + 3)));
}

// Every prefix of a package must read cleanly: whatever lies past the cut is refused.
TEST(Package, EveryTruncationReadsCleanly) {
    WriterPackage package = SamplePackage();
    std::vector<unsigned char> bytes = Build(package);
    for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
        std::vector<unsigned char> copy(bytes.begin(),
                                        bytes.begin() + cut);  // exact-size heap block
        PackageImage image{copy.data(), static_cast<std::uint32_t>(cut)};
        const PackageHeader* header;
        if (!GetPackageHeader(image, &header)) {
            ASSERT_LT(cut, HEADER_SIZE);
            continue;
        }
        PackageText(image, header->title);
        int readable = 0;
        for (std::int32_t i = 0; i < header->entryCount; ++i) {
            const PackageEntry* entry;
            if (!GetPackageEntry(image, i, &entry)) continue;
            PackageText(image, entry->shortcutText);
            const unsigned char* stream;
            if (GetEntryStream(image, *entry, &stream)) {
                ++readable;
                EXPECT_EQ(package.entries[i].data, Inflate(image, *entry));
            }
            std::uint32_t table;
            std::int32_t moves;
            if (i == header->entryCount - 1 && GetMoveTableOffset(image, *entry, &table) &&
                GetMoveCount(image, table, &moves)) {
                for (std::int32_t r = 0; r < moves; ++r) {
                    const ShortcutMoveRecord* record;
                    if (GetMoveRecord(image, table, r, &record)) PackageText(image, record->to);
                }
            }
        }
        if (cut == bytes.size()) {
            EXPECT_EQ(3, readable);
        }
    }
}

}  // namespace

// The UTF-16 texts beside the package: what is written reads back, and damage made on purpose
// gives no text rather than one read from outside the image.
TEST(UnicodeTexts, DamagedImagesGiveNoTextOutsideThem) {
    std::vector<unsigned char> good;
    std::string error;
    ASSERT_EQ(1, BuildUnicodeTexts({{UTEXT_TITLE, 0, 0, u"家計簿"},
                                    {UTEXT_MESSAGE, 2, 0, u"閉じて"},
                                    {UTEXT_WELCOME, 0, 1041, u"%s"}},
                                   &good, &error))
        << error;
    const std::size_t message = UNICODE_TEXTS_HEADER_SIZE + UNICODE_TEXT_RECORD_SIZE;
    auto put32 = [](std::size_t offset, std::uint32_t value) {
        return [=](std::vector<unsigned char>* bytes) {
            std::memcpy(bytes->data() + offset, &value, 4);
        };
    };
    const struct {
        const char* name;
        std::function<void(std::vector<unsigned char>*)> damage;
        int title, message;
    } rows[] = {
        {"whole", [](std::vector<unsigned char>*) {}, 1, 1},
        {"other magic", put32(0, 0x31555755), 0, 0},
        {"other format version", put32(4, 2), 0, 0},
        {"count past the bound", put32(8, UNICODE_TEXTS_MAX_COUNT + 1), 0, 0},
        {"records past the image", [](std::vector<unsigned char>* b) { b->resize(40); }, 0, 0},
        {"odd offset", put32(message + 8, 0x41), 1, 0},
        {"text past the image", put32(message + 12, 0x10000), 1, 0},
        {"text past the longest", put32(message + 12, UNICODE_TEXT_MAX_UNITS + 1), 1, 0},
        // The message's last unit: the welcome's two follow it.
        {"NUL in the text",
         [](std::vector<unsigned char>* b) { (*b)[b->size() - 6] = (*b)[b->size() - 5] = 0; }, 1,
         0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<unsigned char> bytes = good;
        row.damage(&bytes);
        UnicodeTextsImage image{bytes.data(), static_cast<std::uint32_t>(bytes.size())};
        wchar_t text[16];
        std::wmemset(text, L'?', 16);
        EXPECT_EQ(row.title, CopyUnicodeText(image, UTEXT_TITLE, 0, 0, text, 16));
        if (row.title) {
            EXPECT_EQ(std::wstring(L"家計簿"), text);
        }
        EXPECT_EQ(row.message, CopyUnicodeText(image, UTEXT_MESSAGE, 2, 0, text, 16));
    }
    UnicodeTextsImage image{good.data(), static_cast<std::uint32_t>(good.size())};
    wchar_t text[4] = {L'?', L'?', L'?', L'?'};
    EXPECT_EQ(0, CopyUnicodeText(image, UTEXT_MESSAGE, 1, 0, text, 4)) << "another record's";
    EXPECT_EQ(0, CopyUnicodeText(image, UTEXT_WELCOME, 0, 1033, text, 4)) << "another language";
    EXPECT_EQ(0, CopyUnicodeText(image, UTEXT_TITLE, 0, 0, text, 3)) << "no room for the NUL";
    EXPECT_EQ(L'?', text[0]);
    EXPECT_EQ(1, CopyUnicodeText(image, UTEXT_TITLE, 0, 0, text, 4));
}
