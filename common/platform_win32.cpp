#include "common/platform.h"

#include <windows.h>

bool isNt;

// GetVersion sets its top bit on Windows 95, 98 and Me (and Win32s).
bool IsNtPlatform() { return (GetVersion() & 0x80000000u) == 0; }
