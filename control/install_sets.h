// The proposed destination of each install set: an earlier installation
// recorded in the registry or a profile file, else the set's default.
#pragma once
#include <windows.h>

#include "common/types.h"

// The registry root of an install set or registry entry by its index:
// 0 classes root, 1 current user, 2 local machine, 3 users; any other index
// means the current user.
HKEY RegistryRoot(u32 index);

// Works out set `set`'s proposed destination into DestinationPath, which
// still holds the previous set's result when this set has no default.
void FindEarlierInstallation(u32 set);

// Rewrites a path (PathCapacity characters) in place with every component
// spelled as the file system stores it (long names, stored case) and no
// trailing backslash. Left unchanged when any component cannot be found.
void CorrectPathCase(char* path);
