// Folder macros in texts ("#Windows#\x.ini") and the installed path of each
// file entry, with the shared-file search of the version service for entries
// that go to the system folder.
#pragma once
#include <windows.h>

#include "archive/records.h"
#include "common/types.h"

// Size of the buffer an expansion is built in, terminator included. Callers
// measure with this size, allocate the length plus one and expand again.
const u32 MacroExpansionLimit = 65500;

// Expands #Windows#, #System#, #Program Files#, #InstallDir#, #SourceDir#
// and #Date# (any case) in `text`; any other name between two '#' is removed.
// Writes at most outSize - 1 characters and a terminator into `out` (nothing
// when out is null or outSize is 0) and returns the full expansion's length.
u32 ExpandMacros(char* out, const char* text, u32 outSize);

// Writes the installed path of `entry` into WorkPath. True only for a shared
// system-folder file that is in use where it is to be installed.
bool ResolveDestination(const FileEntry* entry);

// WorkPath receives the installed path of the current set's entry named
// `name` (case ignored), or else `name` with its macros expanded.
void ResolveFileReference(const char* name);

// The version service's shared-file search (VerFindFileA). A variable so the
// tests can report a file in use, which Wine's search never does.
typedef DWORD(WINAPI* SharedFileSearch)(DWORD flags, LPSTR fileName, LPSTR windowsFolder, LPSTR appFolder,
                                         LPSTR currentFolder, PUINT currentSize, LPSTR destinationFolder,
                                         PUINT destinationSize);
extern SharedFileSearch findSharedFile;

// The Windows and system folders into a PathCapacity buffer.
void PutWindowsFolder(char* folder);
void PutSystemFolder(char* folder);
