// SPDX-License-Identifier: MIT
#include "engine/globals.h"

void* g_instance = nullptr;
int g_done = 0;
std::atomic<int> g_stopping{0};
int g_unattended = 0;
RunRecord g_record = {nullptr, 0, 0, 0, END_DONE, 0, 0, nullptr, nullptr, 0};
