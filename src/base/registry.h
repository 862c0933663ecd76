// Reading one registry value: open the key, query the value, close the key, all in one call.
#pragma once

#include <cstddef>

enum RegistryRoot {
    REGISTRY_LOCAL_MACHINE,
    REGISTRY_CURRENT_USER,
    REGISTRY_CLASSES_ROOT,
    REGISTRY_USERS,
};

enum RegistryRead {
    REGISTRY_NO_KEY,    // the key did not open
    REGISTRY_NO_VALUE,  // the key opened, the value is missing or longer than the buffer
    REGISTRY_READ,      // the value's data is in the buffer, its byte count in *length
};

// Registry access rights the program asks for.
constexpr unsigned REGISTRY_KEY_READ = 0x20019;        // KEY_READ
constexpr unsigned REGISTRY_KEY_QUERY_VALUE = 0x0001;  // KEY_QUERY_VALUE

// Opens `subKey` under `root` with `access`, reads `valueName` ("" for the default value)
// straight into `buffer` with `capacity` as the size, and closes the key whatever the query
// gave. The value's type is neither asked for nor examined. On REGISTRY_READ, `*length` is the
// data's length in bytes (it may hold no NUL); on the other results `buffer` may have been
// written but holds nothing to use.
RegistryRead ReadRegistryValue(RegistryRoot root, const char* subKey, unsigned access,
                               const char* valueName, char* buffer, std::size_t capacity,
                               std::size_t* length);
