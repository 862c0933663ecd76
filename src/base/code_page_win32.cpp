// SPDX-License-Identifier: MIT
#include <windows.h>

#include "base/code_page.h"

int IsAnsiLeadByte(unsigned char byte) { return IsDBCSLeadByteEx(CP_ACP, byte) ? 1 : 0; }
