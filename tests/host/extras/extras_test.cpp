// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "extras/extras.h"
#include "extras/extras_run.h"
#include "extras/extras_writer.h"
#include "fakes/extras_fake.h"
#include "fakes/system_fake.h"

namespace {

using Calls = std::vector<std::string>;

std::vector<unsigned char> Built(const WriterExtras& extras) {
    std::vector<unsigned char> bytes;
    std::string error;
    EXPECT_EQ(1, BuildExtras(extras, &bytes, &error)) << error;
    return bytes;
}

// One of each record, then damage made on purpose: every reader answers 0, never reads past the
// image, and the records it still can read are the ones written.
TEST(ExtrasReader, DamagedImagesGiveNoRecordOutsideThem) {
    WriterExtras extras;
    extras.folders = {"<InstallDir>\\plugins"};
    extras.removals = {{"<InstallDir>\\kbold.dll", REMOVAL_EMPTY_FOLDER}};
    extras.values = {
        {"HKEY_LOCAL_MACHINE\\Software\\X", "DisplayVersion", EXTRAS_REG_SZ, "3.1", 0}};
    const std::vector<unsigned char> good = Built(extras);
    ASSERT_EQ(EXTRAS_HEADER_SIZE + FOLDER_RECORD_SIZE + REMOVAL_RECORD_SIZE + REGISTRY_RECORD_SIZE,
              good.size());

    struct Row {
        const char* name;
        std::function<void(std::vector<unsigned char>*)> damage;
        int header, folder, removal, value;
    };
    auto put32 = [](std::size_t offset, std::uint32_t value) {
        return [=](std::vector<unsigned char>* bytes) {
            std::memcpy(bytes->data() + offset, &value, 4);
        };
    };
    const std::size_t removalText = EXTRAS_HEADER_SIZE + FOLDER_RECORD_SIZE + 4;
    const Row rows[] = {
        {"whole", [](std::vector<unsigned char>*) {}, 1, 1, 1, 1},
        {"other magic", put32(0, 0x31585755), 0, 0, 0, 0},
        {"other format version", put32(4, 2), 0, 0, 0, 0},
        {"negative count", put32(12, 0xFFFFFFFF), 0, 0, 0, 0},
        {"count past the image", put32(16, 2), 0, 0, 0, 0},
        {"count past the bound", put32(8, EXTRAS_MAX_COUNT + 1), 0, 0, 0, 0},
        {"last byte cut", [](std::vector<unsigned char>* b) { b->pop_back(); }, 0, 0, 0, 0},
        {"shorter than a header", [](std::vector<unsigned char>* b) { b->resize(23); }, 0, 0, 0, 0},
        {"text without its NUL",
         [&](std::vector<unsigned char>* b) { std::memset(b->data() + removalText, 'a', 260); }, 1,
         1, 0, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<unsigned char> bytes = good;
        row.damage(&bytes);
        // An exact-size copy, so any read past it is the sanitizers' to see.
        std::vector<unsigned char> exact(bytes);
        ExtrasImage image{exact.data(), static_cast<std::uint32_t>(exact.size())};
        const ExtrasHeader* header;
        const FolderRecord* folder;
        const RemovalRecord* removal;
        const RegistryRecord* value;
        EXPECT_EQ(row.header, GetExtrasHeader(image, &header));
        EXPECT_EQ(row.folder, GetFolderRecord(image, 0, &folder));
        EXPECT_EQ(row.removal, GetRemovalRecord(image, 0, &removal));
        EXPECT_EQ(row.value, GetRegistryRecord(image, 0, &value));
        EXPECT_EQ(0, GetFolderRecord(image, 1, &folder));
        EXPECT_EQ(0, GetRegistryRecord(image, -1, &value));
        if (row.folder) {
            EXPECT_STREQ("<InstallDir>\\plugins", folder->folder);
        }
        if (row.removal) {
            EXPECT_EQ(REMOVAL_EMPTY_FOLDER, removal->flags);
        }
        if (row.value) {
            EXPECT_STREQ("3.1", value->text);
        }
    }
}

// The run's side against the fake platform: what each record does, and that nothing is ever
// made or removed outside the install folder.
TEST(ExtrasRun, FoldersAndRemovalsStayBeneathTheInstallFolder) {
    struct Row {
        const char* name;
        const char* installDir;
        std::vector<std::string> folders;  // records
        std::vector<std::string> removals;
        int everyEntryDone;
        std::vector<ExtraOutcome> outcomes;
        Calls calls;
    };
    const char* const dir = "C:\\Apps\\Example";
    const Row rows[] = {
        {"nested new folder, one level at a time",
         dir,
         {"<InstallDir>\\templates\\請求書"},
         {},
         1,
         {EXTRA_CREATED},
         {"Mkdir C:\\Apps\\Example\\templates", "Mkdir C:\\Apps\\Example\\templates\\請求書"}},
        {"folder already there", dir, {"<installdir>\\data"}, {}, 1, {EXTRA_ALREADY_THERE}, {}},
        {"install folder with a trailing backslash",
         "C:\\Apps\\Example\\",
         {"<InstallDir>\\new"},
         {},
         1,
         {EXTRA_CREATED},
         {"Mkdir C:\\Apps\\Example\\new"}},
        {"climbing out",
         dir,
         {"<InstallDir>\\..\\Other", "<InstallDir>\\a\\.\\b", "<InstallDir>\\a\\\\b",
          "<InstallDir>\\", "<InstallDir>", "<InstallDir>x", "<WindowsDir>\\x", "C:\\x",
          "<InstallDir>\\C:\\x", "<InstallDir>\\a/..", "<InstallDir>\\a.", "<InstallDir>\\a ",
          "<InstallDir>\\nul.txt\\x", "<InstallDir>\\logs\\Com1.log"},
         {},
         1,
         std::vector<ExtraOutcome>(14, EXTRA_OUTSIDE),
         {}},
        {"a link on the way",
         dir,
         {"<InstallDir>\\linked\\x"},
         {"<InstallDir>\\linked\\x.dll"},
         1,
         {EXTRA_OUTSIDE, EXTRA_OUTSIDE},
         {}},
        {"no install folder",
         nullptr,
         {"<InstallDir>\\x"},
         {"<InstallDir>\\x.dll"},
         1,
         {EXTRA_NO_INSTALL_DIR, EXTRA_NO_INSTALL_DIR},
         {}},
        {"install folder missing on the machine",
         "C:\\Gone",
         {"<InstallDir>\\x"},
         {"<InstallDir>\\x.dll"},
         1,
         {EXTRA_NO_INSTALL_DIR, EXTRA_NO_INSTALL_DIR},
         {}},
        {"drive and share roots",
         "C:\\",
         {"<InstallDir>\\x"},
         {"<InstallDir>\\x.dll"},
         1,
         {EXTRA_ROOT_INSTALL_DIR, EXTRA_ROOT_INSTALL_DIR},
         {}},
        {"share root",
         "\\\\server\\share\\",
         {"<InstallDir>\\x"},
         {},
         1,
         {EXTRA_ROOT_INSTALL_DIR},
         {}},
        {"a file where a folder goes",
         dir,
         {"<InstallDir>\\kbold.dll\\x"},
         {},
         1,
         {EXTRA_FAILED},
         {}},
        {"folder refused by Windows",
         dir,
         {"<InstallDir>\\denied"},
         {},
         1,
         {EXTRA_FAILED},
         {"Mkdir C:\\Apps\\Example\\denied FAIL"}},
        {"removals",
         dir,
         {},
         {"<InstallDir>\\kbold.dll", "<InstallDir>\\gone.dll", "<InstallDir>\\held.dll",
          "<InstallDir>\\data", "<InstallDir>\\ro.dll", "<InstallDir>\\missing\\x.dll"},
         1,
         {EXTRA_REMOVED, EXTRA_NOT_THERE, EXTRA_AT_RESTART, EXTRA_FAILED, EXTRA_FAILED,
          EXTRA_NOT_THERE},
         {"Delete C:\\Apps\\Example\\kbold.dll removed", "Delete C:\\Apps\\Example\\held.dll held",
          "Delete C:\\Apps\\Example\\ro.dll refused"}},
        {"removal and its emptied folder, never the install folder",
         dir,
         {},
         {"<InstallDir>\\data\\old.tpl", "<InstallDir>\\kbold.dll"},
         1,
         {EXTRA_REMOVED, EXTRA_REMOVED},
         {"Delete C:\\Apps\\Example\\data\\old.tpl removed", "Rmdir C:\\Apps\\Example\\data",
          "Delete C:\\Apps\\Example\\kbold.dll removed"}},
        {"not every entry done",
         dir,
         {"<InstallDir>\\new"},
         {"<InstallDir>\\kbold.dll"},
         0,
         {EXTRA_CREATED, EXTRA_ENTRIES_NOT_DONE},
         {"Mkdir C:\\Apps\\Example\\new"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeExtrasReset();
        FakeSystemSetCodePage(932);
        FakeExtras& fake = FakeExtrasState();
        fake.paths = {{"C:\\Apps\\Example", PATH_FOLDER},
                      {"C:\\Apps\\Example\\data", PATH_FOLDER},
                      {"C:\\Apps\\Example\\data\\old.tpl", PATH_FILE},
                      {"C:\\Apps\\Example\\linked", PATH_LINK},
                      {"C:\\Apps\\Example\\kbold.dll", PATH_FILE},
                      {"C:\\Apps\\Example\\held.dll", PATH_FILE},
                      {"C:\\Apps\\Example\\ro.dll", PATH_FILE},
                      {"C:\\", PATH_FOLDER}};
        fake.heldFiles = {"C:\\Apps\\Example\\held.dll"};
        fake.refusedFiles = {"C:\\Apps\\Example\\ro.dll"};
        fake.failingFolders = {"C:\\Apps\\Example\\denied"};
        WriterExtras extras;
        extras.folders = row.folders;
        for (const std::string& removal : row.removals)
            extras.removals.push_back({removal, REMOVAL_EMPTY_FOLDER});
        fake.resource = Built(extras);
        fake.hasResource = true;

        ExtrasRun run;
        OpenExtras(&run);
        CreateExtraFolders(&run, row.installDir);
        FinishExtras(&run, row.installDir, 0, row.everyEntryDone);
        std::vector<ExtraOutcome> outcomes;
        for (std::int32_t i = 0; i < run.folderCount; ++i)
            outcomes.push_back(FolderOutcome(run, i));
        for (std::int32_t i = 0; i < run.removalCount; ++i)
            outcomes.push_back(RemovalOutcome(run, i));
        CloseExtras(&run);
        EXPECT_EQ(row.outcomes, outcomes);
        EXPECT_EQ(row.calls, fake.calls);
    }
    FakeSystemSetCodePage(1252);
}

// A user who may change the install folder swaps a checked folder for a junction to a system
// folder just before the delete: the file deleted is still the one checked, never the system's.
TEST(ExtrasRun, RemovalDeletesWhatWasCheckedWhateverIsSwapped) {
    FakeExtrasReset();
    FakeExtras& fake = FakeExtrasState();
    fake.paths = {{"C:\\Apps\\Example", PATH_FOLDER},
                  {"C:\\Apps\\Example\\data", PATH_FOLDER},
                  {"C:\\Apps\\Example\\data\\old.dll", PATH_FILE},
                  {"C:\\Windows\\old.dll", PATH_FILE}};
    fake.swapFolder = "C:\\Apps\\Example\\data";
    fake.swapTarget = "C:\\Windows";
    fake.swapWhen = "C:\\Apps\\Example\\data\\old.dll";
    WriterExtras extras;
    extras.removals.push_back({"<InstallDir>\\data\\old.dll", 0});
    fake.resource = Built(extras);
    fake.hasResource = true;
    ExtrasRun run;
    OpenExtras(&run);
    FinishExtras(&run, "C:\\Apps\\Example", 0, 1);
    EXPECT_EQ(EXTRA_REMOVED, RemovalOutcome(run, 0));
    CloseExtras(&run);
    EXPECT_EQ(Calls{"Delete C:\\Apps\\Example\\data\\old.dll removed"}, fake.calls);
    EXPECT_EQ(1u, fake.paths.count("C:\\Windows\\old.dll"));
}

// Links are the reparse points that name another file; the tags from "Reparse Point Tags"
// (learn.microsoft.com, fscc 2.1.2.1).
TEST(ExtrasRun, OnlyNameSurrogateTagsAreLinks) {
    const struct {
        const char* name;
        unsigned long tag;
        int link;
    } rows[] = {{"junction", 0xA0000003ul, 1},
                {"symbolic link", 0xA000000Cul, 1},
                {"OneDrive placeholder", 0x9000001Aul, 0},
                {"deduplicated", 0x80000013ul, 0},
                {"compact /exe", 0x80000017ul, 0}};
    for (const auto& row : rows) EXPECT_EQ(row.link, IsLinkReparseTag(row.tag)) << row.name;
}

}  // namespace
