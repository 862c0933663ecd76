// SPDX-License-Identifier: MIT
// What the path splitting in text.h needs from the platform. The real side is
// code_page_win32.cpp; host tests link tests/fakes/system_fake.cpp, and tidepack stands in
// with the code page of the package it handles.
#pragma once

// 1 when `byte` begins a double-byte character in the system's ANSI code page.
int IsAnsiLeadByte(unsigned char byte);

// 1 when `byte` begins a double-byte character in `codePage`, as Windows' tables have it for
// its double-byte ANSI code pages (932, 936, 949, 950); 0 for every other code page. For the
// stand-ins of IsAnsiLeadByte.
int IsLeadByteOf(unsigned codePage, unsigned char byte);
