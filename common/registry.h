// The registry roots setup records name by index.
#pragma once
#include <windows.h>

#include "common/types.h"

// 0 HKEY_CLASSES_ROOT, 1 HKEY_CURRENT_USER, 2 HKEY_LOCAL_MACHINE,
// 3 HKEY_USERS; any other index means HKEY_CURRENT_USER.
HKEY RegistryRoot(u32 index);
