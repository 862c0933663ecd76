#include <windows.h>

#include "base/registry.h"

static HKEY RootKey(RegistryRoot root) {
    switch (root) {
        case REGISTRY_CURRENT_USER:
            return HKEY_CURRENT_USER;
        case REGISTRY_CLASSES_ROOT:
            return HKEY_CLASSES_ROOT;
        case REGISTRY_USERS:
            return HKEY_USERS;
        case REGISTRY_LOCAL_MACHINE:
        default:
            return HKEY_LOCAL_MACHINE;
    }
}

RegistryRead ReadRegistryValue(RegistryRoot root, const char* subKey, unsigned access,
                               const char* valueName, char* buffer, std::size_t capacity,
                               std::size_t* length) {
    HKEY key;
    if (RegOpenKeyExA(RootKey(root), subKey, 0, access, &key) != ERROR_SUCCESS) return REGISTRY_NO_KEY;
    DWORD size = static_cast<DWORD>(capacity);
    LONG result = RegQueryValueExA(key, valueName, nullptr, nullptr,
                                   reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) return REGISTRY_NO_VALUE;
    *length = size;
    return REGISTRY_READ;
}
