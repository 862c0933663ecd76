// SPDX-License-Identifier: MIT
// Reading a folder from the registry: open the key, query the value, close the key, all in one
// call.
#pragma once

#include <cstddef>

enum RegistryRoot {
    REGISTRY_LOCAL_MACHINE,
    REGISTRY_CURRENT_USER,
    REGISTRY_CLASSES_ROOT,
    REGISTRY_USERS,
};

enum RegistryRead {
    REGISTRY_NO_KEY,     // the key did not open
    REGISTRY_NO_VALUE,   // the key opened, the value is missing
    REGISTRY_NO_FOLDER,  // the value is there but gives no folder the program can use
    REGISTRY_READ,       // the folder's text is in the buffer
};

// Registry access rights the program asks for.
constexpr unsigned REGISTRY_KEY_READ = 0x20019;        // KEY_READ
constexpr unsigned REGISTRY_KEY_QUERY_VALUE = 0x0001;  // KEY_QUERY_VALUE
// Added to either: the 64-bit view, which a 32-bit program on 64-bit Windows does not see
// otherwise (KEY_WOW64_64KEY; 32-bit Windows has one view and ignores it).
constexpr unsigned REGISTRY_KEY_64_BIT_VIEW = 0x0100;

// Opens `subKey` under `root` with `access`, reads `valueName` ("" for the default value) and
// closes the key whatever the query gave. The value is read as Windows keeps it, in Unicode, up
// to its first NUL; a REG_EXPAND_SZ value has its environment references expanded. `folder`
// (PATH_TEXT_SIZE bytes) gets it in the ANSI code page: the text itself where the code page can
// spell it, else its short (8.3) form. REGISTRY_NO_FOLDER for a value that is longer than
// PATH_TEXT_SIZE - 1 characters (also once expanded), is not a text, or can be spelt neither
// way; `folder` then holds nothing to use, as on the other results but REGISTRY_READ.
RegistryRead ReadRegistryFolder(RegistryRoot root, const char* subKey, unsigned access,
                                const char* valueName, char* folder);

// A REG_EXPAND_SZ value found in the 64-bit view means its references as a 64-bit process
// expands them, while in this 32-bit one %ProgramFiles% and %CommonProgramFiles% name the
// (x86) folders. Writes `value` to `out` (`capacity` characters) with those two references, in
// any case, renamed %ProgramW6432% and %CommonProgramW6432% where `isDefined` says that
// variable exists (64-bit Windows from 7 on; elsewhere the reference stays). References are
// found as ExpandEnvironmentStrings finds them: a "%" that does not open one of a defined
// variable is plain text. Returns 1; 0 when the result does not fit, with `out` empty.
int NativeViewReferences(const wchar_t* value, int (*isDefined)(const wchar_t* name), wchar_t* out,
                         std::size_t capacity);
