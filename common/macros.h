// Folder macros in texts ("#Windows#\x.ini"), expanded alike by the setup
// program and by the uninstaller, which removes what setup wrote.
#pragma once
#include "common/types.h"

// Size of the buffer an expansion is built in, terminator included. Callers
// measure with this size, allocate the length plus one and expand again.
const u32 MacroExpansionLimit = 65500;

// Expands #Windows#, #System#, #Program Files#, #InstallDir#, #SourceDir#
// and #Date# (any case) in `text`; any other name between two '#' is removed.
// Writes at most outSize - 1 characters and a terminator into `out` (nothing
// when out is null or outSize is 0) and returns the full expansion's length.
u32 ExpandMacros(char* out, const char* text, u32 outSize);

// The Windows and system folders into a PathCapacity buffer.
void PutWindowsFolder(char* folder);
void PutSystemFolder(char* folder);
