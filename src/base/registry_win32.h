// SPDX-License-Identifier: MIT
// The Win32 side of the registry names the portable code uses.
#pragma once

#include <windows.h>

#include "base/registry.h"

// The predefined key of `root`.
HKEY RegistryRootKey(RegistryRoot root);
