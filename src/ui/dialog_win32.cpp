// SPDX-License-Identifier: MIT
// The update dialog: fills its texts from the package header once, and starts the apply run's
// worker on Update.
#include <windows.h>
#include <commctrl.h>

#include "base/text.h"
#include "engine/engine.h"
#include "engine/globals.h"
#include "engine/worker.h"
#include "package/package.h"
#include "package/unicode_texts.h"
#include "resource.h"
#include "ui/dialog_logic.h"
#include "ui/ui_win32.h"

namespace {

// The last worker started. Its handle is closed when the next one starts; the process end
// takes the last.
HANDLE g_worker = nullptr;

// How long a press waits for a worker that has given Update back but not yet ended.
constexpr DWORD WORKER_END_WAIT_MS = 2000;

// How long the program, its dialog closed mid-run, waits for the worker to stop and for the
// replaces it handed on to finish (each flushes a staged copy, which waits for the disk).
constexpr DWORD RUN_END_WAIT_MS = 5000;

// Set once a worker that would not stop was left to the process's end.
int g_workerAbandoned = 0;

int IsWorkerAlive() { return g_worker && WaitForSingleObject(g_worker, 0) == WAIT_TIMEOUT; }

// "Updating <title>" in the dialog's language: what Windows (Vista and later) shows for the
// program while it holds a logoff or a restart back. Empty without a package.
wchar_t g_blockReason[DIALOG_TEXT_SIZE];

// While it runs, the timer that notices the worker's end, to let a logoff go again.
constexpr UINT_PTR RUN_END_TIMER = 1;
constexpr UINT RUN_END_TIMER_MS = 250;

using ShutdownBlockProc = BOOL(WINAPI*)(HWND, LPCWSTR);

// ShutdownBlockReasonCreate or ShutdownBlockReasonDestroy (which takes only the window), or
// null on Windows without them (XP): there a refused WM_QUERYENDSESSION is all there is.
FARPROC ShutdownBlockCall(const char* name) {
    HMODULE user = GetModuleHandleA("user32.dll");
    return user ? GetProcAddress(user, name) : nullptr;
}

void HoldShutdown(HWND dialog) {
    auto create = reinterpret_cast<ShutdownBlockProc>(
        reinterpret_cast<void*>(ShutdownBlockCall("ShutdownBlockReasonCreate")));
    wchar_t caption[DIALOG_TEXT_SIZE];
    const wchar_t* reason = g_blockReason;
    if (!reason[0] && GetWindowTextW(dialog, caption, DIALOG_TEXT_SIZE) > 0) reason = caption;
    if (create) create(dialog, reason);
    SetTimer(dialog, RUN_END_TIMER, RUN_END_TIMER_MS, nullptr);
}

void ReleaseShutdown(HWND dialog) {
    KillTimer(dialog, RUN_END_TIMER);
    using DestroyProc = BOOL(WINAPI*)(HWND);
    auto destroy = reinterpret_cast<DestroyProc>(
        reinterpret_cast<void*>(ShutdownBlockCall("ShutdownBlockReasonDestroy")));
    if (destroy) destroy(dialog);
}

// Waits for the last worker to end, at most `limit` ms, handling the messages sent to this
// thread meanwhile: a worker blocked in a call on the dialog must not hold us both up.
int AwaitWorkerEnd(DWORD limit) {
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= limit) return 0;
        DWORD woken =
            MsgWaitForMultipleObjects(1, &g_worker, FALSE, limit - elapsed, QS_SENDMESSAGE);
        if (woken == WAIT_OBJECT_0) return 1;
        if (woken != WAIT_OBJECT_0 + 1) return 0;
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

// Gives `control` the keyboard focus as the dialog manager does (the default button follows).
void FocusControl(HWND dialog, HWND control) {
    SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
}

// Update goes grey before the worker exists, so no second press can start another one while
// this run has not yet reached its own first step.
void StartWorker(HWND dialog) {
    HWND update = GetDlgItem(dialog, IDC_UPDATE);
    // A disabled control keeps no focus, and Windows would leave it on no window: Escape and
    // Tab would do nothing and a screen reader announce nothing for the whole run. The bar
    // stays enabled and, unlike Cancel, a second Enter already queued cannot end the run there.
    FocusControl(dialog, GetDlgItem(dialog, IDC_PROGRESS));
    EnableWindow(update, FALSE);
    DWORD threadId;  // not used, but Windows 9x wants somewhere to put it
    HANDLE worker = CreateThread(nullptr, 0, UpdateWorker, dialog, 0, &threadId);
    if (!worker) {
        EnableWindow(update, TRUE);  // still ready: another press tries again
        FocusControl(dialog, update);
        return;
    }
    if (g_worker) CloseHandle(g_worker);
    g_worker = worker;
    // A logoff or a Windows Update restart would end the run half-way.
    HoldShutdown(dialog);
}

// The package's text `field` (code page of the machine, as Windows itself shows ANSI text) in
// `wide`, DIALOG_TEXT_SIZE characters. 0 when it does not convert.
int FieldText(const char* field, wchar_t* wide) {
    return MultiByteToWideChar(CP_ACP, 0, field, -1, wide, DIALOG_TEXT_SIZE) > 0;
}

// The header's text as the dialog shows it in `wide` (DIALOG_TEXT_SIZE characters): the UTF-16
// text beside the package where the program carries one, so that it reads right on every code
// page; else `field` (null: none). 0 with neither.
int HeaderText(UnicodeTextKind kind, const char* field, wchar_t* wide) {
    return LoadUnicodeText(g_instance, kind, 0, 0, wide, DIALOG_TEXT_SIZE) ||
           (field && FieldText(field, wide));
}

// The language of the dialog Windows chose, as its string table says (the same choice): 1033,
// 1041, or 0 for a module without the string.
std::uint16_t DialogLanguage() {
    wchar_t text[8];
    if (LoadStringW(static_cast<HMODULE>(g_instance), IDS_LANGUAGE, text, 8) <= 0) return 0;
    unsigned language = 0;
    for (const wchar_t* digit = text; *digit >= L'0' && *digit <= L'9'; ++digit)
        language = language * 10 + (*digit - L'0');
    return static_cast<std::uint16_t>(language);
}

// Replaces the "%s" of a template text by `field`. The template is read and the result written
// as Unicode, so that a template the code page cannot spell (the Japanese dialog on a Western
// system) stays whole; the vendor's UTF-16 template of this control and language, where the
// program carries one, stands for the dialog's. Without the field (a header text that runs off
// the package) or when the result would not fit, the template text stays.
void FillWindowText(HWND window, const wchar_t* field, UnicodeTextKind templateKind) {
    if (!field) return;
    wchar_t templateText[DIALOG_TEXT_SIZE];
    wchar_t text[DIALOG_TEXT_SIZE];
    std::uint16_t language = templateKind ? DialogLanguage() : 0;
    if (!language ||
        !LoadUnicodeText(g_instance, templateKind, 0, language, templateText, DIALOG_TEXT_SIZE))
        GetWindowTextW(window, templateText, DIALOG_TEXT_SIZE);
    if (FillTemplate(text, DIALOG_TEXT_SIZE, templateText, field)) SetWindowTextW(window, text);
}

void PrepareBlockReason(const wchar_t* title) {
    wchar_t templateText[DIALOG_TEXT_SIZE];
    if (!title || LoadStringW(static_cast<HMODULE>(g_instance), IDS_UPDATING, templateText,
                              DIALOG_TEXT_SIZE) <= 0)
        return;
    FillTemplate(g_blockReason, DIALOG_TEXT_SIZE, templateText, title);
}

// Passive, the run starts by itself with Update grey: "click Update" would mislead.
void ShowPassiveExplanation(HWND dialog, const wchar_t* versionText) {
    wchar_t templateText[DIALOG_TEXT_SIZE], text[DIALOG_TEXT_SIZE];
    if (LoadStringW(static_cast<HMODULE>(g_instance), IDS_PASSIVE_EXPLAIN, templateText,
                    DIALOG_TEXT_SIZE) > 0 &&
        FillTemplate(text, DIALOG_TEXT_SIZE, templateText, versionText ? versionText : L""))
        SetDlgItemTextW(dialog, IDC_EXPLAIN, text);
}

// The block reason from the package's title, for the run without a window.
void PrepareBlockReasonFromPackage() {
    PackageImage image;
    wchar_t title[DIALOG_TEXT_SIZE];
    if (CarriedPackage(&image) && HeaderText(UTEXT_TITLE, GetDialogTexts(image).title, title))
        PrepareBlockReason(title);
}

// 1 once a logoff or a restart ended the run without a window.
int g_endedBySession = 0;

// The hidden window of a run without one: it answers a logoff or a restart as the dialog does.
LRESULT CALLBACK RunWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_QUERYENDSESSION:
            return IsWorkerAlive() ? FALSE : TRUE;
        case WM_ENDSESSION:
            if (wParam && IsWorkerAlive()) {
                EndWorker();
                g_endedBySession = 1;
            }
            return 0;
        case WM_TIMER:
            if (wParam == RUN_END_TIMER && !IsWorkerAlive()) ReleaseShutdown(window);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

BOOL OnInitDialog(HWND dialog) {
    HMODULE module = static_cast<HMODULE>(g_instance);
    wchar_t title[DIALOG_TEXT_SIZE], versionText[DIALOG_TEXT_SIZE];
    const wchar_t* shownVersion = nullptr;
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(PACKAGE_RESOURCE_ID),
                                MAKEINTRESOURCEA(PACKAGE_RESOURCE_TYPE));
    // Without a package the texts keep their template form with the "%s" in them.
    if (found) {
        HGLOBAL loaded = LoadResource(module, found);
        if (!loaded) return FALSE;
        const void* bytes = LockResource(loaded);
        if (!bytes) {
            FreeResource(loaded);
            return FALSE;
        }
        PackageImage image = {static_cast<const unsigned char*>(bytes),
                              static_cast<std::uint32_t>(SizeofResource(module, found))};
        DialogTexts texts = GetDialogTexts(image);
        const wchar_t* shownTitle = HeaderText(UTEXT_TITLE, texts.title, title) ? title : nullptr;
        shownVersion =
            HeaderText(UTEXT_VERSION, texts.versionText, versionText) ? versionText : nullptr;
        FillWindowText(dialog, shownTitle, UnicodeTextKind{});
        FillWindowText(GetDlgItem(dialog, IDC_WELCOME), shownTitle, UTEXT_WELCOME);
        FillWindowText(GetDlgItem(dialog, IDC_EXPLAIN), shownVersion, UTEXT_EXPLAIN);
        PrepareBlockReason(shownTitle);
        FreeResource(loaded);
    }
    HWND bar = GetDlgItem(dialog, IDC_PROGRESS);
    SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SendMessageA(bar, PBM_SETSTEP, 1, 0);
    if (g_uiMode == UI_PASSIVE) {
        // A required update is not cancelled by a passing user: no Cancel, no close box. The
        // run starts as if Update had been pressed.
        ShowPassiveExplanation(dialog, shownVersion);
        EnableWindow(GetDlgItem(dialog, IDC_CANCEL), FALSE);
        EnableMenuItem(GetSystemMenu(dialog, FALSE), SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_UPDATE, BN_CLICKED), 0);
    }
    return TRUE;  // the focus goes to the first tab stop, Update
}

BOOL OnCommand(HWND dialog, WPARAM wParam) {
    CommandDecision command = DecideCommand(wParam);
    if (command.action == COMMAND_END && g_uiMode == UI_PASSIVE) return TRUE;
    if (command.action == COMMAND_END) {
        // Never waits for a worker: the process ends right after the dialog.
        EndDialog(dialog, command.endResult);
        return TRUE;
    }
    if (command.action != COMMAND_UPDATE) return FALSE;

    HWND update = GetDlgItem(dialog, IDC_UPDATE);
    UpdatePress press = DecideUpdatePress(g_done, IsWindowEnabled(update), IsWorkerAlive());
    if (press == PRESS_AWAIT_START) {
        if (!AwaitWorkerEnd(WORKER_END_WAIT_MS)) return FALSE;
        // Messages handled during the wait may have changed the dialog: decide afresh.
        press = DecideUpdatePress(g_done, IsWindowEnabled(update), IsWorkerAlive());
    }
    switch (press) {
        case PRESS_FINISH:
            EndDialog(dialog, 1);
            return TRUE;
        case PRESS_START:
            StartWorker(dialog);
            return FALSE;
        case PRESS_IGNORE:
        case PRESS_AWAIT_START:
            return FALSE;
    }
    return FALSE;
}

}  // namespace

int EndWorker() {
    if (!IsWorkerAlive()) return 1;
    if (g_workerAbandoned) return 0;
    StopRun();
    int ended = AwaitWorkerEnd(RUN_END_WAIT_MS);
    RemoveUnfinishedStaged();
    g_workerAbandoned = !ended;
    return ended;
}

INT_PTR CALLBACK UpdateDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            return OnInitDialog(dialog);
        case WM_COMMAND:
            return OnCommand(dialog, wParam);
        case WM_QUERYENDSESSION:
            if (!IsWorkerAlive()) return FALSE;  // the default answer: the session may end
            SetWindowLongPtrW(dialog, DWLP_MSGRESULT, FALSE);
            return TRUE;
        case WM_ENDSESSION:
            // Ending anyway (forced, or the user chose to): Windows ends the process once this
            // returns, so the run stops here as on a close mid-run, staged copies removed.
            if (wParam && IsWorkerAlive()) {
                EndWorker();
                EndDialog(dialog, 2);
            }
            return FALSE;
        case WM_TIMER:
            if (wParam != RUN_END_TIMER) return FALSE;
            if (!IsWorkerAlive()) ReleaseShutdown(dialog);
            return TRUE;
        case WM_RUN_ENDED:
            // Unattended with progress: the dialog closes itself once the run has returned.
            if (g_uiMode == UI_PASSIVE) EndDialog(dialog, 1);
            return TRUE;
        default:
            return FALSE;
    }
}

int RunWithoutWindow(RunRecord* record) {
    HINSTANCE instance = static_cast<HINSTANCE>(g_instance);
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = RunWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"TidewellUpdateRun";
    // Top-level, never shown: a message-only window is not asked about a logoff.
    HWND window = RegisterClassW(&windowClass)
                      ? CreateWindowExW(0, windowClass.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 0,
                                        0, nullptr, nullptr, instance, nullptr)
                      : nullptr;
    DWORD threadId;
    HANDLE worker = window ? CreateThread(nullptr, 0, UpdateWorker, window, 0, &threadId) : nullptr;
    if (!worker) {
        // Without them the run goes as designed, on this thread, with nothing to hold a logoff.
        if (window) DestroyWindow(window);
        RunUpdate(nullptr, record);
        return 1;
    }
    g_worker = worker;
    PrepareBlockReasonFromPackage();
    HoldShutdown(window);
    while (IsWorkerAlive() && !g_endedBySession) {
        MsgWaitForMultipleObjects(1, &g_worker, FALSE, INFINITE, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
    int settled = !IsWorkerAlive();
    if (g_endedBySession) record->cancelled = 1;
    ReleaseShutdown(window);
    DestroyWindow(window);
    return settled;
}
