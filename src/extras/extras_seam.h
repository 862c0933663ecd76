// SPDX-License-Identifier: MIT
// What the steps beside the package need from the platform. extras_win32.cpp makes these the
// real calls; host tests link tests/fakes/extras_fake.cpp, and `tidepack plan` its own side,
// which looks at a copy of an install folder and changes nothing.
#pragma once

#include <cstdint>

#include "base/registry.h"
#include "extras/extras.h"

// The steps resource of g_instance (RCDATA 2): 1 with its bytes in `image`; 0 when the program
// carries none or it does not load.
int LoadExtrasResource(ExtrasImage* image);

enum PathKind {
    PATH_NONE,    // nothing there
    PATH_FILE,    // a plain file
    PATH_FOLDER,  // a plain folder
    PATH_LINK,    // a link or junction: it may lead anywhere, so nothing is made through it
    PATH_OTHER,   // there, but not readable as any of these
};

PathKind GetPathKind(const char* path);

// The Windows error of the step just refused (GetLastError's value), for the log.
unsigned long LastStepError();

// Creates the one folder `path`, whose parent exists, with the permissions it inherits there.
// 1 when it was created.
int CreateOneFolder(const char* path);

enum FileRemoval {
    FILE_REMOVED,
    FILE_GONE,         // nothing to remove
    FILE_HELD,         // held open for good by another process: removed at the next restart
    FILE_NOT_REMOVED,  // refused (read-only, permissions): it stays
};

// Removes the plain file at `path` by its name: where it cannot be held for deletion.
FileRemoval RemoveOneFile(const char* path);

// Opens `path` without following a link there and holds it until ReleasePath: while held, no
// other process can rename, delete or replace it (by a link or junction), so a folder checked
// stays the folder checked. `kind` gets what it is, a reparse point counting as a link only when
// its tag says it is one (a OneDrive placeholder, a deduplicated file is a file). `forDeletion`:
// opened so that RemoveHeldFile can delete it. Null when it could not be opened (`kind` then says
// PATH_NONE when nothing is there).
void* HoldPath(const char* path, int forDeletion, PathKind* kind);
// Deletes the file held (for deletion) as `held`, through that handle, never by name.
FileRemoval RemoveHeldFile(void* held, const char* path);
void ReleasePath(void* held);

// Removes the folder at `path` when it is empty. 1 when it was removed.
int RemoveEmptyFolder(const char* path);

enum ValueWrite {
    VALUE_WRITTEN,
    VALUE_NO_KEY,       // the key does not exist
    VALUE_NOT_WRITTEN,  // the key exists, the value could not be set
};

// Sets `valueName` under the existing key `subKey` of `root`, in the registry view `view`
// (0, or REGISTRY_KEY_64_BIT_VIEW): a text (EXTRAS_REG_SZ, `text`) or a number
// (EXTRAS_REG_DWORD, `number`). Never creates a key.
ValueWrite WriteRegistryValue(RegistryRoot root, const char* subKey, unsigned view,
                              const char* valueName, std::uint32_t type, const char* text,
                              std::uint32_t number);
