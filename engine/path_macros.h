// The installed path of each file entry, with the shared-file search of the
// version service for entries that go to the system folder.
#pragma once
#include <windows.h>

#include "archive/records.h"
#include "common/macros.h"
#include "common/types.h"

// Writes the installed path of `entry` into WorkPath. True only for a shared
// system-folder file that is in use where it is to be installed.
bool ResolveDestination(const FileEntry* entry);

// WorkPath receives the installed path of the current set's entry named
// `name` (case ignored), or else `name` with its macros expanded.
void ResolveFileReference(const char* name);

// The shared-file search: null for the version service's own (VerFindFileA,
// from the system folder). A variable so the tests can report a file in use,
// which Wine's search never does.
typedef DWORD(WINAPI* SharedFileSearch)(DWORD flags, LPSTR fileName, LPSTR windowsFolder, LPSTR appFolder,
                                         LPSTR currentFolder, PUINT currentSize, LPSTR destinationFolder,
                                         PUINT destinationSize);
extern SharedFileSearch findSharedFile;
