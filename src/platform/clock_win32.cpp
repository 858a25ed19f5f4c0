#include <windows.h>

#include "platform/platform.h"

uint64_t monotonic_ms() { return GetTickCount64(); }
