#include <windows.h>

#include "rules/version_seam.h"

std::uint32_t VersionInfoSize(const char* path, std::uint32_t* handle) {
    DWORD zero = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &zero);
    *handle = zero;
    return size;
}

void* VersionBlockAlloc(std::uint32_t size) { return LocalAlloc(LMEM_ZEROINIT, size); }

void VersionBlockFree(void* block) { LocalFree(block); }

int VersionInfoRead(const char* path, std::uint32_t handle, std::uint32_t size, void* block) {
    return GetFileVersionInfoA(path, handle, size, block) ? 1 : 0;
}

int VersionQueryValue(const void* block, const char* queryPath, const void** value,
                      std::uint32_t* length) {
    void* found = nullptr;
    UINT foundLength = 0;
    // Older headers take the block and the path as non-const pointers; neither is written.
    if (!VerQueryValueA(const_cast<void*>(block), const_cast<char*>(queryPath), &found,
                        &foundLength) ||
        found == nullptr)
        return 0;
    *value = found;
    *length = foundLength;
    return 1;
}
