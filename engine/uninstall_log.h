// The uninstall log appended to the installed uninstaller, and the uninstall
// key of an install set, shared by the log that registers it and the
// removal of earlier installations that looks it up.
#pragma once
#include "common/paths.h"
#include "common/types.h"

// Appends the uninstall log to the uninstaller at UninstallerPath (making
// the program-menu shortcuts as it logs them) and registers it.
void WriteUninstallLog();

// Capacity of a key path buffer: the uninstall key prefix plus a display name.
const u32 UninstallKeyCapacity = PathCapacity;

// Puts the uninstall key path of install set `set` into `key`
// (UninstallKeyCapacity bytes). False when the set has no display name, or
// one too long for a key, so nothing is to be registered under it.
bool PutUninstallKey(u32 set, char* key);
