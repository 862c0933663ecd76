// SPDX-License-Identifier: MIT
// A program for the run-after list. It appends to run.log beside itself when it starts and
// when it ends, with the tick count, its argument count and whether the file named in
// watch.txt (beside it) exists at its start. A name beginning "slow" runs two seconds; a name
// holding "259" ends with exit code 259, the value of STILL_ACTIVE.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

static char g_folder[MAX_PATH];

static void Log(const char* line) {
    char path[MAX_PATH];
    std::snprintf(path, sizeof path, "%s\\run.log", g_folder);
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written;
    WriteFile(file, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
    WriteFile(file, "\n", 1, &written, nullptr);
    CloseHandle(file);
}

static int WatchedFileExists() {
    char path[MAX_PATH];
    std::snprintf(path, sizeof path, "%s\\watch.txt", g_folder);
    FILE* file = std::fopen(path, "r");
    if (!file) return -1;
    char watched[MAX_PATH] = "";
    if (!std::fgets(watched, sizeof watched, file)) watched[0] = '\0';
    std::fclose(file);
    watched[std::strcspn(watched, "\r\n")] = '\0';
    return GetFileAttributesA(watched) != INVALID_FILE_ATTRIBUTES;
}

int main(int argc, char**) {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    char* slash = std::strrchr(self, '\\');
    if (!slash) return 1;
    *slash = '\0';
    std::snprintf(g_folder, sizeof g_folder, "%s", self);
    const char* name = slash + 1;

    char line[512];
    std::snprintf(line, sizeof line, "start %s %lu args=%d watched=%d", name, GetTickCount(), argc,
                  WatchedFileExists());
    Log(line);
    if (std::strncmp(name, "slow", 4) == 0) Sleep(2000);
    std::snprintf(line, sizeof line, "end %s %lu", name, GetTickCount());
    Log(line);
    return std::strstr(name, "259") ? 259 : 0;
}
