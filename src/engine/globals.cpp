#include "engine/globals.h"

void* g_instance = nullptr;
int g_done = 0;
