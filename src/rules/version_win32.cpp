// SPDX-License-Identifier: MIT
#include <windows.h>

#include <atomic>

#include "base/system_dll_win32.h"
#include "rules/version_seam.h"

namespace {

// version.dll is no KnownDLL on Vista and later: taken from the system folder at run time, so
// that no version.dll beside the program is ever loaded. Each address is resolved on first use;
// a thread that races another only stores the same address again.
std::atomic<void*> g_getSize{nullptr};
std::atomic<void*> g_getInfo{nullptr};
std::atomic<void*> g_queryValue{nullptr};

template <typename Proc>
Proc Resolved(std::atomic<void*>& slot, const char* name) {
    void* proc = slot.load(std::memory_order_acquire);
    if (!proc) {
        proc = reinterpret_cast<void*>(GetSystemDllProc("version.dll", name));
        slot.store(proc, std::memory_order_release);
    }
    return reinterpret_cast<Proc>(proc);
}

using GetSizeProc = DWORD(WINAPI*)(LPCSTR, LPDWORD);
using GetInfoProc = BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPVOID);
using QueryValueProc = BOOL(WINAPI*)(LPCVOID, LPCSTR, LPVOID*, PUINT);

}  // namespace

// Without version.dll no file has a readable version: every ruled entry then replaces, as for
// a packaged file without a version block.
std::uint32_t VersionInfoSize(const char* path, std::uint32_t* handle) {
    DWORD zero = 0;
    auto getSize = Resolved<GetSizeProc>(g_getSize, "GetFileVersionInfoSizeA");
    DWORD size = getSize ? getSize(path, &zero) : 0;
    *handle = zero;
    return size;
}

void* VersionBlockAlloc(std::uint32_t size) { return LocalAlloc(LMEM_ZEROINIT, size); }

void VersionBlockFree(void* block) { LocalFree(block); }

int VersionInfoRead(const char* path, std::uint32_t handle, std::uint32_t size, void* block) {
    auto getInfo = Resolved<GetInfoProc>(g_getInfo, "GetFileVersionInfoA");
    return getInfo && getInfo(path, handle, size, block) ? 1 : 0;
}

int VersionQueryValue(const void* block, const char* queryPath, const void** value,
                      std::uint32_t* length) {
    void* found = nullptr;
    UINT foundLength = 0;
    auto queryValue = Resolved<QueryValueProc>(g_queryValue, "VerQueryValueA");
    if (!queryValue || !queryValue(block, queryPath, &found, &foundLength) || found == nullptr)
        return 0;
    *value = found;
    *length = foundLength;
    return 1;
}

// The language FindResourceEx takes for a neutral request, as GetFileVersionInfoA's look-up
// does: "the current language associated with the calling thread" ("FindResourceExA function",
// learn.microsoft.com), which from Vista on is the thread's UI language, by default the user's UI
// language ("User Interface Language Management"), and before Vista the thread locale's. Not
// GetUserDefaultLangID, the format locale, which an English Windows set to Japanese formats has.
std::uint32_t UserResourceLanguage() {
    using ThreadLanguageProc = LANGID(WINAPI*)();
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    auto threadLanguage = kernel ? reinterpret_cast<ThreadLanguageProc>(reinterpret_cast<void*>(
                                       GetProcAddress(kernel, "GetThreadUILanguage")))
                                 : nullptr;
    if (threadLanguage) return threadLanguage();
    return LANGIDFROMLCID(GetThreadLocale());
}

int VersionTextToAnsi(const unsigned char* units16, std::uint32_t units, char* text,
                      std::size_t capacity) {
    if (capacity == 0) return 0;
    text[0] = '\0';
    if (units == 0) return 1;
    // More units than this never fit the 63 bytes of a version text.
    wchar_t wide[128];
    if (units > sizeof wide / sizeof wide[0] || capacity > 0x7FFFFFFF) return 0;
    for (std::uint32_t k = 0; k < units; ++k)
        wide[k] = static_cast<wchar_t>(units16[2 * k] | units16[2 * k + 1] << 8);
    int length = WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(units), text,
                                     static_cast<int>(capacity) - 1, nullptr, nullptr);
    if (length <= 0) return 0;
    text[length] = '\0';
    return 1;
}
