// SPDX-License-Identifier: MIT
// Drives Tidewell.exe's dialog from outside, as a user would: finds it, reads its texts, the
// states of its buttons and its bar, presses its buttons, and reads and answers its message
// box. One action per run; the end-to-end scripts and scripts/demo call it under Wine.
//
//   uidriver find [MS]              wait for the dialog (at most MS ms); print its process id
//   uidriver count                  number of update dialogs on the screen
//   uidriver show                   every value below as KEY=VALUE lines
//   uidriver get KEY                one value: caption welcome explain update update.enabled
//                                   cancel cancel.enabled progress range focus rect msgbox
//   uidriver wait KEY VALUE [MS]    until KEY reads VALUE
//   uidriver wait-min KEY N [MS]    until the number KEY reads at least N
//   uidriver click ID               press the button ID (BM_CLICK)
//   uidriver command ID [TIMES]     post WM_COMMAND ID to the dialog, TIMES in a row
//   uidriver escape                 the Escape key, through the dialog's own keyboard handling
//   uidriver close                  the close box (WM_SYSCOMMAND SC_CLOSE)
//   uidriver update-close-at N [MS] press Update, then the close box as soon as the bar reads
//                                   at least N
//   uidriver query-end-session      ask the dialog, as a logoff does, whether the session may
//                                   end; print its answer (1 yes, 0 no)
//   uidriver end-session            tell the dialog the session is ending (a forced logoff)
//   uidriver msgbox [MS]            wait for the dialog's message box; print caption= and text=
//   uidriver msgbox-ok              press the message box's OK
//   uidriver gone [MS]              wait until no update dialog is left
//   uidriver windows CLASS          number of top-level windows of CLASS
//   uidriver close-class CLASS [MS] close every top-level window of CLASS and wait for them
//   uidriver hold FILE UNTIL        keep FILE open as a virus scanner does (reading, no write
//                                   or delete sharing) until the file UNTIL exists, or, with
//                                   UNTIL "staged", until a staged copy (twn*.tmp) shows beside
//                                   it; print "held" once it is open
//   uidriver worker-end [MS]        until the dialog has no run in progress (it lets a logoff
//                                   through only then)
//   uidriver identity FILE          what Windows shows of program FILE: its version texts in
//                                   its first translation and fixed file version as KEY=VALUE,
//                                   manifest= (its application manifest's name), then icons=
//                                   (how many the shell extracts) and pixel= (the
//                                   large icon's middle, RRGGBB)
//
// Texts are read as Unicode and printed in UTF-8, with a backslash, CR and LF written as \\, \r and
// \n. Exit code 0 on success, 1 when a wait timed out or nothing was found, 2 on bad usage.
// Every wait is for a condition; its limit only bounds a failure, so it is long enough for a
// loaded machine, and a wait that fails says what it waited for and how long.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr int IDC_UPDATE = 1000;
constexpr int IDC_CANCEL = 3;
constexpr int IDC_WELCOME = 1002;
constexpr int IDC_EXPLAIN = 1003;
constexpr int IDC_PROGRESS = 1004;
constexpr DWORD DEFAULT_WAIT_MS = 180000;
constexpr UINT SEND_TIMEOUT_MS = 30000;
// A holder whose case died without releasing it still ends.
constexpr DWORD HOLD_LIMIT_MS = 600000;

std::string ClassOf(HWND window) {
    char name[256] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

// The update dialog: a dialog-class top-level window with the Update button and the bar.
bool IsUpdateDialog(HWND window) {
    if (ClassOf(window) != "#32770" || !IsWindowVisible(window)) return false;
    HWND bar = GetDlgItem(window, IDC_PROGRESS);
    return bar && GetDlgItem(window, IDC_UPDATE) &&
           _stricmp(ClassOf(bar).c_str(), "msctls_progress32") == 0;
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

std::vector<HWND> TopLevelWindows() {
    std::vector<HWND> windows;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

std::vector<HWND> UpdateDialogs() {
    std::vector<HWND> found;
    for (HWND window : TopLevelWindows())
        if (IsUpdateDialog(window)) found.push_back(window);
    return found;
}

HWND UpdateDialog() {
    std::vector<HWND> dialogs = UpdateDialogs();
    return dialogs.empty() ? nullptr : dialogs[0];
}

// A message box owned by the dialog: the only other dialog-class window of the program.
HWND MessageBoxOf(HWND dialog) {
    for (HWND window : TopLevelWindows())
        if (ClassOf(window) == "#32770" && IsWindowVisible(window) &&
            GetWindow(window, GW_OWNER) == dialog && !IsUpdateDialog(window))
            return window;
    return nullptr;
}

// A window's text, read as Unicode whatever the code page, in UTF-8: the dialog's own texts
// must survive a code page that cannot spell them.
std::string WindowText(HWND window) {
    wchar_t text[1024] = L"";
    DWORD_PTR ignored;
    SendMessageTimeoutW(window, WM_GETTEXT, sizeof text / sizeof text[0],
                        reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS,
                        &ignored);
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1) return "";
    std::vector<char> utf8(bytes);
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), bytes, nullptr, nullptr);
    return utf8.data();
}

// A command-line argument (ANSI code page) in UTF-8, to compare with the texts read.
std::string Utf8(const char* ansi) {
    int wide = MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0);
    if (wide <= 1) return "";
    std::vector<wchar_t> buffer(wide);
    MultiByteToWideChar(CP_ACP, 0, ansi, -1, buffer.data(), wide);
    int bytes = WideCharToMultiByte(CP_UTF8, 0, buffer.data(), -1, nullptr, 0, nullptr, nullptr);
    std::vector<char> utf8(bytes);
    WideCharToMultiByte(CP_UTF8, 0, buffer.data(), -1, utf8.data(), bytes, nullptr, nullptr);
    return utf8.data();
}

std::string Utf8(const wchar_t* text) {
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::vector<char> utf8(bytes > 1 ? bytes : 1);
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), bytes, nullptr, nullptr);
    return utf8.data();
}

// The identity of a program through the calls Explorer's Properties and the shell make.
int Identity() {
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (count < 3) return 2;
    const wchar_t* file = args[2];
    DWORD ignored = 0, size = GetFileVersionInfoSizeW(file, &ignored);
    std::vector<unsigned char> block(size ? size : 1);
    if (!size || !GetFileVersionInfoW(file, 0, size, block.data())) return 1;
    VS_FIXEDFILEINFO* fixed = nullptr;
    WORD* translation = nullptr;
    UINT length = 0;
    if (VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length))
        std::printf("fixed=%u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS),
                    LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                    LOWORD(fixed->dwFileVersionLS));
    if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                        reinterpret_cast<void**>(&translation), &length) ||
        length < 4)
        return 1;
    for (const wchar_t* key : {L"CompanyName", L"ProductName", L"FileDescription", L"FileVersion",
                               L"ProductVersion", L"LegalCopyright", L"OriginalFilename"}) {
        wchar_t path[128];
        wchar_t* value = nullptr;
        swprintf(path, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translation[0], translation[1],
                 key);
        if (VerQueryValueW(block.data(), path, reinterpret_cast<void**>(&value), &length))
            std::printf("%s=%s\n", Utf8(key).c_str(), Utf8(value).c_str());
    }
    // The application manifest's name, as the loader reads it.
    HMODULE image = LoadLibraryExW(file, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    HRSRC manifest =
        image ? FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24)) : nullptr;
    HGLOBAL loaded = manifest ? LoadResource(image, manifest) : nullptr;
    if (loaded && LockResource(loaded)) {
        std::string xml(static_cast<const char*>(LockResource(loaded)),
                        SizeofResource(image, manifest));
        std::size_t at = xml.find("name=\"", xml.find("<assemblyIdentity"));
        if (at != std::string::npos)
            std::printf("manifest=%s\n",
                        xml.substr(at + 6, xml.find('"', at + 6) - at - 6).c_str());
    }
    if (image) FreeLibrary(image);
    HICON large = nullptr;
    std::printf("icons=%u\n", ExtractIconExW(file, -1, nullptr, nullptr, 0));
    if (ExtractIconExW(file, 0, &large, nullptr, 1) != 1 || !large) return 1;
    ICONINFO info;
    BITMAP bitmap;
    if (!GetIconInfo(large, &info) || !GetObjectW(info.hbmColor, sizeof bitmap, &bitmap)) return 1;
    HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(memory, info.hbmColor);
    COLORREF middle = GetPixel(memory, bitmap.bmWidth / 2, bitmap.bmHeight / 2);
    std::printf("pixel=%02X%02X%02X\n", GetRValue(middle), GetGValue(middle), GetBValue(middle));
    SelectObject(memory, old);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return 0;
}

// Escaped for one line.
std::string Printable(const std::string& utf8) {
    std::string out;
    for (char c : utf8) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string Number(long long value) { return std::to_string(value); }

// One named value of the dialog's present state; false for an unknown key.
bool ReadValue(HWND dialog, const std::string& key, std::string* value) {
    DWORD_PTR result = 0;
    if (key == "caption") {
        *value = Printable(WindowText(dialog));
    } else if (key == "welcome") {
        *value = Printable(WindowText(GetDlgItem(dialog, IDC_WELCOME)));
    } else if (key == "explain") {
        *value = Printable(WindowText(GetDlgItem(dialog, IDC_EXPLAIN)));
    } else if (key == "update") {
        *value = Printable(WindowText(GetDlgItem(dialog, IDC_UPDATE)));
    } else if (key == "cancel") {
        *value = Printable(WindowText(GetDlgItem(dialog, IDC_CANCEL)));
    } else if (key == "update.enabled") {
        *value = Number(IsWindowEnabled(GetDlgItem(dialog, IDC_UPDATE)) ? 1 : 0);
    } else if (key == "cancel.enabled") {
        *value = Number(IsWindowEnabled(GetDlgItem(dialog, IDC_CANCEL)) ? 1 : 0);
    } else if (key == "progress") {
        SendMessageTimeoutA(GetDlgItem(dialog, IDC_PROGRESS), PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG,
                            SEND_TIMEOUT_MS, &result);
        *value = Number(static_cast<long long>(result));
    } else if (key == "range") {
        DWORD_PTR low = 0;
        HWND bar = GetDlgItem(dialog, IDC_PROGRESS);
        SendMessageTimeoutA(bar, PBM_GETRANGE, TRUE, 0, SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS, &low);
        SendMessageTimeoutA(bar, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS,
                            &result);
        *value = Number(static_cast<long long>(low)) + "-" + Number(static_cast<long long>(result));
    } else if (key == "focus") {
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        DWORD thread = GetWindowThreadProcessId(dialog, nullptr);
        int id = 0;
        if (GetGUIThreadInfo(thread, &info) && info.hwndFocus) id = GetDlgCtrlID(info.hwndFocus);
        *value = Number(id);
    } else if (key == "rect") {
        RECT rect;
        GetWindowRect(dialog, &rect);
        *value = Number(rect.right - rect.left) + "x" + Number(rect.bottom - rect.top) + "+" +
                 Number(rect.left) + "+" + Number(rect.top);
    } else if (key == "msgbox") {
        *value = Number(MessageBoxOf(dialog) ? 1 : 0);
    } else {
        return false;
    }
    return true;
}

const char* const KEYS[] = {"caption",        "welcome", "explain",        "update",
                            "update.enabled", "cancel",  "cancel.enabled", "progress",
                            "range",          "focus",   "rect",           "msgbox"};

DWORD WaitArgument(int argc, char** argv, int index) {
    return argc > index ? static_cast<DWORD>(std::strtoul(argv[index], nullptr, 10))
                        : DEFAULT_WAIT_MS;
}

// Polls `test` every 20 ms until it holds or `limit` ms have passed; a wait that fails says
// what it was for and how long it took.
template <typename Test>
bool WaitFor(DWORD limit, const char* what, Test test) {
    DWORD start = GetTickCount();
    for (;;) {
        if (test()) return true;
        if (GetTickCount() - start >= limit) {
            std::fprintf(stderr, "uidriver: waited %lu ms for %s\n",
                         static_cast<unsigned long>(GetTickCount() - start), what);
            return false;
        }
        Sleep(20);
    }
}

// A staged copy beside `file`: the run has begun to replace something in its folder.
bool StagedCopyBeside(const std::string& file) {
    std::string pattern = file.substr(0, file.find_last_of('\\') + 1) + "twn*.tmp";
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    return true;
}

// Holds `file` until `until` exists, or until a staged copy shows beside it.
int Hold(const std::string& file, const std::string& until) {
    HANDLE held = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) return 1;
    std::printf("held\n");
    std::fflush(stdout);
    bool released = WaitFor(HOLD_LIMIT_MS, "a release of the held file", [&] {
        return until == "staged" ? StagedCopyBeside(file)
                                 : GetFileAttributesA(until.c_str()) != INVALID_FILE_ATTRIBUTES;
    });
    CloseHandle(held);
    return released ? 0 : 1;
}

HWND NeedDialog() {
    HWND dialog = UpdateDialog();
    if (!dialog) std::fprintf(stderr, "uidriver: no update dialog\n");
    return dialog;
}

int Usage() {
    std::fprintf(stderr, "uidriver: see the top of tests/e2e/ui/uidriver.cpp for its commands\n");
    return 2;
}

int Run(int argc, char** argv) {
    if (argc < 2) return Usage();
    const std::string action = argv[1];

    if (action == "find") {
        HWND dialog = nullptr;
        if (!WaitFor(WaitArgument(argc, argv, 2), "the update dialog",
                     [&] { return (dialog = UpdateDialog()); }))
            return 1;
        DWORD process = 0;
        GetWindowThreadProcessId(dialog, &process);
        std::printf("%lu\n", static_cast<unsigned long>(process));
        return 0;
    }
    if (action == "identity") return Identity();
    if (action == "hold" && argc >= 4) return Hold(argv[2], argv[3]);
    if (action == "count") {
        std::printf("%u\n", static_cast<unsigned>(UpdateDialogs().size()));
        return 0;
    }
    if (action == "gone") {
        return WaitFor(WaitArgument(argc, argv, 2), "no update dialog left",
                       [] { return UpdateDialog() == nullptr; })
                   ? 0
                   : 1;
    }
    if (action == "windows" && argc >= 3) {
        unsigned count = 0;
        for (HWND window : TopLevelWindows())
            if (ClassOf(window) == argv[2]) ++count;
        std::printf("%u\n", count);
        return 0;
    }
    if (action == "close-class" && argc >= 3) {
        for (HWND window : TopLevelWindows())
            if (ClassOf(window) == argv[2]) PostMessageA(window, WM_CLOSE, 0, 0);
        return WaitFor(WaitArgument(argc, argv, 3), "the windows to close",
                       [&] { return FindWindowA(argv[2], nullptr) == nullptr; })
                   ? 0
                   : 1;
    }

    HWND dialog = NeedDialog();
    if (!dialog) return 1;

    if (action == "show") {
        for (const char* key : KEYS) {
            std::string value;
            ReadValue(dialog, key, &value);
            std::printf("%s=%s\n", key, value.c_str());
        }
        return 0;
    }
    if (action == "get" && argc >= 3) {
        std::string value;
        if (!ReadValue(dialog, argv[2], &value)) return Usage();
        std::printf("%s\n", value.c_str());
        return 0;
    }
    if ((action == "wait" || action == "wait-min") && argc >= 4) {
        // Arguments come in the ANSI code page; values are printed in UTF-8.
        std::string key = argv[2], want = Utf8(argv[3]), value;
        if (!ReadValue(dialog, key, &value)) return Usage();
        bool atLeast = action == "wait-min";
        std::string what = key + " to read " + (atLeast ? "at least " : "") + want;
        bool ok = WaitFor(WaitArgument(argc, argv, 4), what.c_str(), [&] {
            if (!IsWindow(dialog)) return false;
            ReadValue(dialog, key, &value);
            return atLeast ? std::atol(value.c_str()) >= std::atol(want.c_str()) : value == want;
        });
        if (!ok) {
            std::fprintf(stderr, "uidriver: %s is '%s'\n", key.c_str(), value.c_str());
            return 1;
        }
        std::printf("%s\n", value.c_str());
        return 0;
    }
    if (action == "click" && argc >= 3) {
        HWND button = GetDlgItem(dialog, std::atoi(argv[2]));
        if (!button) return 1;
        PostMessageA(button, BM_CLICK, 0, 0);
        return 0;
    }
    if (action == "command" && argc >= 3) {
        int id = std::atoi(argv[2]);
        int times = argc >= 4 ? std::atoi(argv[3]) : 1;
        HWND control = GetDlgItem(dialog, id);
        for (int i = 0; i < times; ++i)
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                         reinterpret_cast<LPARAM>(control));
        return 0;
    }
    if (action == "escape") {
        // Posted, not sent: the dialog's message loop hands it to IsDialogMessage, which turns
        // Escape into IDCANCEL as it would for a key press.
        PostMessageA(dialog, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PostMessageA(dialog, WM_KEYUP, VK_ESCAPE, 0xC0010001);
        return 0;
    }
    if (action == "update-close-at" && argc >= 3) {
        // Presses Update, waits for the bar to reach N and closes at once, all in this one
        // process: under load a run can end sooner than another driver would start.
        long at = std::atol(argv[2]);
        std::string value;
        HWND button = GetDlgItem(dialog, IDC_UPDATE);
        if (!button) return 1;
        PostMessageA(button, BM_CLICK, 0, 0);
        bool ok = WaitFor(WaitArgument(argc, argv, 3), "the bar to reach its mark", [&] {
            return ReadValue(dialog, "progress", &value) && std::atol(value.c_str()) >= at;
        });
        if (!ok) return 1;
        PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        std::printf("%s\n", value.c_str());
        return 0;
    }
    if (action == "close") {
        PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        return 0;
    }
    if (action == "worker-end") {
        // The dialog lets a logoff through only while no run is in progress.
        return WaitFor(WaitArgument(argc, argv, 2), "the run to end",
                       [&] {
                           DWORD_PTR answer = 0;
                           return SendMessageTimeoutA(dialog, WM_QUERYENDSESSION, 0,
                                                      ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG,
                                                      SEND_TIMEOUT_MS, &answer) &&
                                  answer;
                       })
                   ? 0
                   : 1;
    }
    if (action == "query-end-session" || action == "end-session") {
        DWORD_PTR answer = 0;
        bool query = action == "query-end-session";
        // A forced end waits for the run to stop: up to its 5 s for the worker, and more.
        if (!SendMessageTimeoutA(dialog, query ? WM_QUERYENDSESSION : WM_ENDSESSION,
                                 query ? 0 : TRUE, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG,
                                 query ? SEND_TIMEOUT_MS : 4 * SEND_TIMEOUT_MS, &answer))
            return 1;
        if (query) std::printf("%d\n", answer ? 1 : 0);
        return 0;
    }
    if (action == "msgbox") {
        HWND box = nullptr;
        if (!WaitFor(WaitArgument(argc, argv, 2), "the message box",
                     [&] { return (box = MessageBoxOf(dialog)); }))
            return 1;
        std::string text;
        for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            LONG style = GetWindowLongA(child, GWL_STYLE);
            if (_stricmp(ClassOf(child).c_str(), "Static") == 0 && (style & SS_TYPEMASK) != SS_ICON)
                text += WindowText(child);
        }
        std::printf("caption=%s\ntext=%s\n", Printable(WindowText(box)).c_str(),
                    Printable(text).c_str());
        return 0;
    }
    if (action == "msgbox-ok") {
        HWND box = MessageBoxOf(dialog);
        if (!box) return 1;
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
        return WaitFor(DEFAULT_WAIT_MS, "the message box to close", [&] { return !IsWindow(box); })
                   ? 0
                   : 1;
    }
    return Usage();
}

}  // namespace

int main(int argc, char** argv) {
    int code = Run(argc, argv);
    std::fflush(stdout);
    return code;
}
