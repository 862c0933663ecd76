// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "base/registry.h"
#include "base/text.h"
#include "fakes/system_fake.h"

namespace {

TEST(FolderOfFile, KeepsARootsBackslashAndNoSecondByte) {
    struct Row {
        unsigned codePage;
        const char* path;
        int result;
        const char* folder;
    } const rows[] = {
        {1252, "C:\\Program Files\\Notes\\tools\\run.exe", 1, "C:\\Program Files\\Notes\\tools"},
        {1252, "C:\\run.exe", 1, "C:\\"},
        // 予 ends in 0x5C: in code page 932 it is not a backslash.
        {932, "C:\\\x97\x5C\\run.exe", 1, "C:\\\x97\x5C"},
        {1252, "run.exe", 0, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        FakeSystemSetCodePage(row.codePage);
        char folder[PATH_TEXT_SIZE];
        std::memset(folder, 'x', sizeof folder);
        EXPECT_EQ(row.result, FolderOfFile(row.path, folder));
        EXPECT_EQ(std::string(row.folder), folder);
    }
    FakeSystemSetCodePage(1252);
}

// Environment names, as Windows compares them, in any case.
int IsDefinedOn64BitWindows(const wchar_t* name) {
    for (const wchar_t* defined : {L"ProgramFiles", L"ProgramW6432", L"CommonProgramFiles",
                                   L"CommonProgramW6432", L"ProgramFiles(x86)", L"SystemDrive"})
        if (wcscasecmp(name, defined) == 0) return 1;
    return 0;
}

int IsDefinedOnVista(const wchar_t* name) {  // 64-bit Windows before 7: no ProgramW6432
    return wcscasecmp(name, L"ProgramFiles") == 0;
}

TEST(NativeViewReferences, ProgramFilesAsA64BitProcessReadsIt) {
    struct Row {
        const wchar_t* value;
        int (*isDefined)(const wchar_t*);
        const wchar_t* want;
    } const rows[] = {
        {L"%ProgramFiles%\\Shiosai", IsDefinedOn64BitWindows, L"%ProgramW6432%\\Shiosai"},
        {L"%PROGRAMFILES%\\Shiosai", IsDefinedOn64BitWindows, L"%ProgramW6432%\\Shiosai"},
        {L"%CommonProgramFiles%\\S", IsDefinedOn64BitWindows, L"%CommonProgramW6432%\\S"},
        {L"%ProgramFiles(x86)%\\S", IsDefinedOn64BitWindows, L"%ProgramFiles(x86)%\\S"},
        {L"%ProgramFiles%\\S", IsDefinedOnVista, L"%ProgramFiles%\\S"},
        // As ExpandEnvironmentStrings pairs them: the "%" after an undefined name opens the
        // next reference; after a defined one it closes it.
        {L"%Nope%ProgramFiles%\\S", IsDefinedOn64BitWindows, L"%Nope%ProgramW6432%\\S"},
        {L"%SystemDrive%ProgramFiles%", IsDefinedOn64BitWindows, L"%SystemDrive%ProgramFiles%"},
    };
    for (const Row& row : rows) {
        wchar_t out[PATH_TEXT_SIZE];
        EXPECT_EQ(1, NativeViewReferences(row.value, row.isDefined, out, PATH_TEXT_SIZE));
        EXPECT_EQ(std::wstring(row.want), out);
    }
    // The longer name must fit too: 17 characters and the terminator.
    wchar_t out[18];
    EXPECT_EQ(0, NativeViewReferences(L"%ProgramFiles%\\Sh", IsDefinedOn64BitWindows, out, 17));
    EXPECT_EQ(std::wstring(), out);
    EXPECT_EQ(1, NativeViewReferences(L"%ProgramFiles%\\Sh", IsDefinedOn64BitWindows, out, 18));
}

TEST(ReplaceFolderAtStart, OnlyTheFolderItselfAndWhatIsInIt) {
    const char* const system = "C:\\WINDOWS\\system32";
    const char* const wow64 = "C:\\WINDOWS\\SysWOW64";
    struct Row {
        const char* path;
        int result;
        const char* want;
    } const rows[] = {
        {"C:\\WINDOWS\\system32\\tool.exe", 1, "C:\\WINDOWS\\SysWOW64\\tool.exe"},
        {"c:\\windows\\SYSTEM32\\tool.exe", 1, "C:\\WINDOWS\\SysWOW64\\tool.exe"},
        {"C:\\WINDOWS\\system32", 1, "C:\\WINDOWS\\SysWOW64"},  // a working folder
        {"C:\\WINDOWS\\system32x\\tool.exe", 1, "C:\\WINDOWS\\system32x\\tool.exe"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        char out[PATH_TEXT_SIZE];
        EXPECT_EQ(row.result, ReplaceFolderAtStart(row.path, system, wow64, out));
        EXPECT_EQ(std::string(row.want), out);
    }
    // A path of 255 characters whose folder grows by 7 gives nothing, not a cut-off path.
    const std::string path = system + ("\\" + std::string(235, 'a'));
    char out[PATH_TEXT_SIZE];
    EXPECT_EQ(0, ReplaceFolderAtStart(path.c_str(), system, "C:\\WINDOWS\\SysWOW64.longer", out));
    EXPECT_EQ(std::string(), out);
}

}  // namespace
