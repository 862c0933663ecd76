// SPDX-License-Identifier: MIT
// The single-instance mutexes on Windows: made with permissions for SYSTEM, the Administrators
// and this account, their owner read back when they existed, and the private namespace (Vista
// and later, looked up at run time).
#include <windows.h>

#include "ui/instance.h"
#include "ui/ui_win32.h"

namespace {

constexpr const wchar_t NAMESPACE_ALIAS[] = L"Tidewell";

// The token's user and its default owner (the Administrators group for an elevated
// administrator), or null.
PSID g_user = nullptr;
PSID g_owner = nullptr;
DWORD g_userRoom[32];
DWORD g_ownerRoom[32];

void ReadToken() {
    if (g_user) return;
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
    DWORD needed = 0;
    if (GetTokenInformation(token, TokenOwner, g_ownerRoom, sizeof g_ownerRoom, &needed))
        CopyMemory(&g_owner, g_ownerRoom, sizeof g_owner);  // TOKEN_OWNER's one field
    if (GetTokenInformation(token, TokenUser, g_userRoom, sizeof g_userRoom, &needed))
        CopyMemory(&g_user, g_userRoom, sizeof g_user);  // TOKEN_USER's first field
    CloseHandle(token);
}

PSID CurrentUser() {
    ReadToken();
    return g_user;
}

// SYSTEM (one sub-authority) or the Administrators group (two); freed with FreeSid.
PSID WellKnownSid(int administrators) {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID sid = nullptr;
    if (administrators)
        AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                 0, 0, 0, 0, &sid);
    else
        AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &sid);
    return sid;
}

// The permissions every copy gives its mutexes: SYSTEM, the Administrators and its own account
// may open them, whoever made them first (an agent's copy as SYSTEM, an administrator's in a
// console session, both in session 0).
struct MutexSecurity {
    SECURITY_ATTRIBUTES attributes;
    SECURITY_DESCRIPTOR descriptor;
    DWORD acl[128];
    PSID system;
    PSID administrators;
};

int PrepareSecurity(MutexSecurity* security) {
    security->system = WellKnownSid(0);
    security->administrators = WellKnownSid(1);
    PSID user = CurrentUser();
    PACL acl = reinterpret_cast<PACL>(security->acl);
    if (!security->system || !security->administrators || !user ||
        !InitializeAcl(acl, sizeof security->acl, ACL_REVISION) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, MUTEX_ALL_ACCESS, security->system) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, MUTEX_ALL_ACCESS, security->administrators) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, MUTEX_ALL_ACCESS, user) ||
        !InitializeSecurityDescriptor(&security->descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        // Said outright, as Windows would give it anyway: Wine gives another.
        (g_owner && !SetSecurityDescriptorOwner(&security->descriptor, g_owner, FALSE)) ||
        !SetSecurityDescriptorDacl(&security->descriptor, TRUE, acl, FALSE))
        return 0;
    security->attributes.nLength = sizeof security->attributes;
    security->attributes.lpSecurityDescriptor = &security->descriptor;
    security->attributes.bInheritHandle = FALSE;
    return 1;
}

void ReleaseSecurity(MutexSecurity* security) {
    if (security->system) FreeSid(security->system);
    if (security->administrators) FreeSid(security->administrators);
}

// Whose an existing mutex is: a copy's owner is SYSTEM, the Administrators (an elevated
// administrator's default owner) or this account; anyone else's is planted.
MutexAnswer OwnerAnswer(HANDLE mutex, const MutexSecurity& security) {
    DWORD room[64];  // DWORD-aligned, as a security descriptor must be
    DWORD needed = 0;
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (!GetKernelObjectSecurity(mutex, OWNER_SECURITY_INFORMATION, room, sizeof room, &needed) ||
        !GetSecurityDescriptorOwner(room, &owner, &defaulted))
        return MUTEX_HELD;  // unknown: counted as a copy, as before the owner was read
    PSID user = CurrentUser();
    // No owner recorded (Wine keeps none without a descriptor): unknown, so counted as a copy.
    int trusted =
        !owner || (EqualSid(owner, security.system) || EqualSid(owner, security.administrators) ||
                   (g_owner && EqualSid(owner, g_owner)) || (user && EqualSid(owner, user)));
    return trusted ? MUTEX_HELD : MUTEX_PLANTED;
}

using CreateBoundaryProc = HANDLE(WINAPI*)(LPCWSTR, ULONG);
using AddSidProc = BOOL(WINAPI*)(HANDLE*, PSID);
using CreateNamespaceProc = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LPVOID, LPCWSTR);
using OpenNamespaceProc = HANDLE(WINAPI*)(LPVOID, LPCWSTR);

// The private namespace, made or opened once; kept open until the process ends, as the
// objects in it need. Null where Windows has none (XP) or this account may not have it.
HANDLE OpenNamespace(MutexSecurity* security) {
    static HANDLE opened = nullptr;
    if (opened) return opened;
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (!kernel) return nullptr;
    auto createBoundary = reinterpret_cast<CreateBoundaryProc>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "CreateBoundaryDescriptorW")));
    auto addSid = reinterpret_cast<AddSidProc>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "AddSIDToBoundaryDescriptor")));
    auto create = reinterpret_cast<CreateNamespaceProc>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "CreatePrivateNamespaceW")));
    auto open = reinterpret_cast<OpenNamespaceProc>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "OpenPrivateNamespaceW")));
    if (!createBoundary || !addSid || !create || !open) return nullptr;
    HANDLE boundary = createBoundary(NAMESPACE_ALIAS, 0);
    if (!boundary || !addSid(&boundary, security->administrators)) return nullptr;
    // The boundary descriptor is never freed: the process keeps the namespace to its end.
    HANDLE space = create(&security->attributes, boundary, NAMESPACE_ALIAS);
    if (!space && GetLastError() == ERROR_ALREADY_EXISTS) space = open(boundary, NAMESPACE_ALIAS);
    opened = space;
    return space;
}

}  // namespace

int RunsElevated() { return IsElevated(); }

MutexAnswer OpenInstanceMutex(const char* name, int privateNamespace) {
    MutexSecurity security = {};
    MutexAnswer answer = MUTEX_FAILED;
    int secured = PrepareSecurity(&security);
    wchar_t wide[MAX_PATH];
    int prefix = 0;
    if (privateNamespace) {
        if (!secured || !OpenNamespace(&security)) {
            ReleaseSecurity(&security);
            return MUTEX_UNAVAILABLE;
        }
        lstrcpyW(wide, NAMESPACE_ALIAS);
        lstrcatW(wide, L"\\");
        prefix = lstrlenW(wide);
    }
    if (MultiByteToWideChar(CP_ACP, 0, name, -1, wide + prefix, MAX_PATH - prefix) > 0) {
        // A second copy keeps its handle open; the process end releases it.
        HANDLE mutex = CreateMutexW(secured ? &security.attributes : nullptr, FALSE, wide);
        DWORD error = GetLastError();
        if (!mutex)
            answer = error == ERROR_ACCESS_DENIED ? MUTEX_DENIED : MUTEX_FAILED;
        else if (error == ERROR_ALREADY_EXISTS)
            answer = secured ? OwnerAnswer(mutex, security) : MUTEX_HELD;
        else
            answer = MUTEX_NEW;
    }
    ReleaseSecurity(&security);
    return answer;
}
