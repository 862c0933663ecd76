// SPDX-License-Identifier: MIT
// The program's entry: the switches, one copy at a time, the dialog or a run without one, the
// log, and the run's exit code.
#include <windows.h>

#include "base/system_dll.h"
#include "base/text.h"
#include "base/system_dll_win32.h"
#include "engine/engine.h"
#include "engine/engine_seam.h"
#include "engine/globals.h"
#include "outcome/outcome.h"
#include "resource.h"
#include "ui/command_line.h"
#include "ui/dialog_logic.h"
#include "ui/instance.h"
#include "package/package.h"
#include "ui/ui_win32.h"

UiMode g_uiMode = UI_FULL;

int CarriedPackage(PackageImage* image) {
    HMODULE module = static_cast<HMODULE>(g_instance);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(PACKAGE_RESOURCE_ID),
                                MAKEINTRESOURCEA(PACKAGE_RESOURCE_TYPE));
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) return 0;
    *image = {static_cast<const unsigned char*>(bytes),
              static_cast<std::uint32_t>(SizeofResource(module, found))};
    return 1;
}

int CheckSingleInstance() {
    // The machine-wide name is the product's: the package's title and registry key.
    const char* title = nullptr;
    const char* registryKey = nullptr;
    const PackageHeader* header;
    PackageImage image;
    if (CarriedPackage(&image) && GetPackageHeader(image, &header)) {
        title = PackageText(image, header->title);
        registryKey = PackageText(image, header->registryKey);
    }
    char name[INSTANCE_NAME_SIZE];
    ProductInstanceName(title, registryKey, name);
    return DecideSingleInstance(name);
}
namespace {

// 1 when the process's window station is one a user sees: not a service's session, where a
// dialog would wait for nobody until the deployment agent gives up. From Vista on, session 0
// holds services alone: its WinSta0 (an interactive service, psexec -i 0) is no user's desktop.
int HasInteractiveDesktop() {
    DWORD session = 0;
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (ProcessIdToSessionId(GetCurrentProcessId(), &session) && session == 0 &&
        GetVersionExA(&version) && version.dwMajorVersion >= 6)
        return 0;
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    HWINSTA station = GetProcessWindowStation();
    if (!station || !GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof flags, &needed))
        return 1;
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

void ShowUsage(HINSTANCE instance) {
    wchar_t usage[DIALOG_TEXT_SIZE * 2];
    wchar_t caption[DIALOG_TEXT_SIZE];
    if (LoadStringW(instance, IDS_USAGE_CAPTION, caption, DIALOG_TEXT_SIZE) <= 0)
        lstrcpyW(caption, L"Usage");
    if (LoadStringW(instance, IDS_USAGE, usage, DIALOG_TEXT_SIZE * 2) > 0)
        MessageBoxW(nullptr, usage, caption, MB_OK | MB_ICONINFORMATION);
}

// Ends the program with the end decided before any run.
int EndEarly(RunEnd end) {
    EndRunLog(&g_record, end, 1);
    return ExitCodeOf(end);
}

// The switch behind a 1639, as an item of the record (and so a line of the log).
void RecordBadSwitch(const CommandLine& command) {
    char name[128] = "";
    if (WideCharToMultiByte(CP_ACP, 0, command.badSwitch, -1, name, sizeof name, nullptr,
                            nullptr) <= 0)
        name[0] = '\0';
    RunItem* item = RecordItem(&g_record, ITEM_SWITCH, OUTCOME_REFUSED, name, nullptr);
    if (item) StampTime(item->time);
    NotifyRecord(&g_record);
}

}  // namespace

// Registers "msctls_progress32" before the template needs it. comctl32 is no KnownDLL, so it
// is taken from the system folder by its path rather than imported.
static void RegisterCommonControls() {
    using InitProc = void(WINAPI*)();
    auto init = reinterpret_cast<InitProc>(
        reinterpret_cast<void*>(GetSystemDllProc("comctl32.dll", "InitCommonControls")));
    if (init) init();
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // An install folder or a shortcut on an empty removable drive must fail as a missing
    // file does, without "There is no disk in the drive" boxes the user cannot answer well.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    int searchLimited = RestrictDllSearch();
    g_instance = instance;
    InitRunRecord(&g_record);
    CommandLine command;
    ParseCommandLine(GetCommandLineW(), &command);
    // Nobody would see a dialog: it would wait until the deployment agent's time-out.
    if (!HasInteractiveDesktop()) command.mode = UI_QUIET;
    g_uiMode = command.mode;
    g_unattended = command.mode != UI_FULL;
    if (command.valid && command.usage) {
        if (command.mode != UI_QUIET) ShowUsage(instance);
        return 0;
    }
    // Every run logs, the dialog's too: a home user then has something to send the vendor.
    BeginRunLog(command, &g_record);
    if (!command.valid) {
        RecordBadSwitch(command);
        return EndEarly(END_BAD_COMMAND_LINE);
    }
    if (!CheckSingleInstance()) return EndEarly(END_ANOTHER_COPY);
    PreloadSystemDlls(searchLimited);
    g_done = 0;
    int settled = 1;
    if (command.mode == UI_QUIET) {
        settled = RunWithoutWindow(&g_record);
    } else {
        RegisterCommonControls();
        // A Unicode dialog: its texts keep every character of the template whatever the code
        // page.
        DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_UPDATE), nullptr, UpdateDialogProc, 0);
        // Closed mid-run: the staged copies in flight are finished or taken away before the
        // end. Ending the process then ends a worker that may still run; the apply run
        // replaces each target in one step, so that never leaves a file half written.
        settled = EndWorker();
        // Closed before the run came to its end: the user cancelled, unless the run had
        // already ended on its own (a package that cannot be read, which /passive closes on).
        if (!g_done && g_record.early == END_DONE) g_record.cancelled = 1;
    }
    // A worker still ending may still add items: then only what was decided before them counts,
    // and the cancel outranks every item anyway.
    RunEnd end = settled ? ConcludeRun(&g_record) : ConcludeCancelledRun(&g_record);
    EndRunLog(&g_record, end, settled);
    // ExitProcess would kill the worker and the pool's threads wherever they are, then run the
    // DLLs' detach code, which hangs on a lock a killed thread held; TerminateProcess runs none.
    if (!settled) TerminateProcess(GetCurrentProcess(), ExitCodeOf(end));
    // The process that was started returns the code itself: deployment tools wait for it.
    return ExitCodeOf(end);
}
