// Taking away the registry values and profile entries a set wrote.
#pragma once
#include "uninstall/removal.h"

// Removes every value and entry the settings record lists, then the keys,
// sections and profile files that are left empty. InitPlaces first: macros
// in the record expand with the destination as the installation folder.
void RemoveSettings(RemovalRun* run);
