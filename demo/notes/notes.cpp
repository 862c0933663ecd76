// SPDX-License-Identifier: MIT
// Shiosai Notes, the demo product: one window that names itself and its version. Its window
// class is the one the demo package lists as a running application.
#include <windows.h>

#ifndef DEMO_VERSION_WIDE
#define DEMO_VERSION_WIDE L"?"
#endif

namespace {

LRESULT CALLBACK NotesWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window, &paint);
            RECT area;
            GetClientRect(window, &area);
            const wchar_t text[] =
                L"\x6f6e\x9a12\x30ce\x30fc\x30c8 (Shiosai Notes) " DEMO_VERSION_WIDE;
            DrawTextW(dc, text, -1, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
            EndPaint(window, &paint);
            return 0;
        }
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = NotesWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = L"ShiosaiNotesMain";
    if (!RegisterClassW(&windowClass)) return 1;
    HWND window =
        CreateWindowW(L"ShiosaiNotesMain", L"\x6f6e\x9a12\x30ce\x30fc\x30c8", WS_OVERLAPPEDWINDOW,
                      CW_USEDEFAULT, CW_USEDEFAULT, 360, 160, nullptr, nullptr, instance, nullptr);
    if (!window) return 1;
    ShowWindow(window, show);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
