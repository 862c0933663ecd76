// What the path splitting in text.h needs from the platform. The real side is
// code_page_win32.cpp; host tests link tests/fakes/system_fake.cpp, and tidepack stands in
// with the code page of the package it handles.
#pragma once

// 1 when `byte` begins a double-byte character in the system's ANSI code page.
int IsAnsiLeadByte(unsigned char byte);
