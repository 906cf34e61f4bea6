// The proposed destination of each install set: an earlier installation
// recorded in the registry or a profile file, else the set's default.
#pragma once
#include <windows.h>

#include "common/registry.h"
#include "common/types.h"

// Works out set `set`'s proposed destination into DestinationPath, which
// still holds the previous set's result when this set has no default.
void FindEarlierInstallation(u32 set);

// Rewrites a path (PathCapacity characters) in place with every component
// spelled as the file system stores it (long names, stored case) and no
// trailing backslash. Left unchanged when any component cannot be found.
void CorrectPathCase(char* path);
