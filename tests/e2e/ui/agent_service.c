// SPDX-License-Identifier: MIT
/* A stand-in for a deployment agent: a Windows service that starts the program given on its
 * command line, with no arguments, as the service itself runs (its window station, no user's
 * desktop), waits for it and writes "visible=<0|1>" (its own window station's WSF_VISIBLE) and
 * "code=<exit code>" to the result file, then stops.
 * Usage (its service command line): agent_service.exe RESULT_FILE PROGRAM */
#include <windows.h>

#include <stdio.h>

static SERVICE_STATUS_HANDLE g_status;
static char g_result[MAX_PATH];
static char g_program[MAX_PATH];

static void Report(DWORD state) {
    SERVICE_STATUS status = {0};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    SetServiceStatus(g_status, &status);
}

static DWORD WINAPI Control(DWORD control, DWORD type, LPVOID data, LPVOID context) {
    (void)control, (void)type, (void)data, (void)context;
    return NO_ERROR;
}

static void WINAPI ServiceMain(DWORD argc, LPSTR* argv) {
    (void)argc, (void)argv;
    g_status = RegisterServiceCtrlHandlerExA("TidewellAgent", Control, NULL);
    Report(SERVICE_RUNNING);
    USEROBJECTFLAGS flags = {0};
    DWORD needed = 0;
    int visible = GetUserObjectInformationA(GetProcessWindowStation(), UOI_FLAGS, &flags,
                                            sizeof flags, &needed) &&
                  (flags.dwFlags & WSF_VISIBLE);
    char commandLine[MAX_PATH + 2];
    snprintf(commandLine, sizeof commandLine, "\"%s\"", g_program);
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    DWORD code = 0xFFFFFFFF;
    if (CreateProcessA(g_program, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup,
                       &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    char text[64];
    int length = snprintf(text, sizeof text, "visible=%d\r\ncode=%lu\r\n", visible, code);
    HANDLE file =
        CreateFileA(g_result, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD written;
    if (file != INVALID_HANDLE_VALUE) {
        WriteFile(file, text, (DWORD)length, &written, NULL);
        CloseHandle(file);
    }
    Report(SERVICE_STOPPED);
}

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    lstrcpynA(g_result, argv[1], MAX_PATH);
    lstrcpynA(g_program, argv[2], MAX_PATH);
    SERVICE_TABLE_ENTRYA table[] = {{"TidewellAgent", ServiceMain}, {NULL, NULL}};
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
