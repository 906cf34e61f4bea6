#include "engine/folders.h"

#include <windows.h>

#include <string.h>

#include "common/helpers.h"
#include "common/paths.h"
#include "engine/rollback.h"

// Makes `folder` the current directory, creating it when it is missing.
static bool EnterOrCreate(const char* folder) {
    if (SetCurrentDirectoryA(folder)) return true;
    if (!CreateDirectoryA(folder, nullptr)) return false;
    NoteCreatedFolder(folder);
    return SetCurrentDirectoryA(folder);
}

// Where the folders below the root begin: after "\\" of a network path or
// "C:\" of a drive.
static u32 RootLength(const char* path) {
    if (path[0] == '\\' && path[1] == '\\') return 2;
    if (path[0] != '\0' && path[1] == ':' && path[2] == '\\') return 3;
    return 0;
}

// True when the current directory is `folder` (which ends in a backslash):
// the folder of the previous entry, most often this one's, is entered
// already, and the current directory is the program's own to read.
static bool IsCurrentFolder(const char* folder) {
    char current[PathCapacity];
    DWORD length = GetCurrentDirectoryA(PathCapacity, current);
    if (length == 0 || length >= PathCapacity - 1) return false;
    AppendBackslash(current);
    return lstrcmpiA(current, folder) == 0;
}

i32 CreateFolderPath(const char* path) {
    char* folder;
    if (!AllocateZeroedBlock(PathCapacity, &folder)) return -1;
    CopyPath(folder, path, PathCapacity);
    char* lastSlash = LastBackslash(folder);
    if (lastSlash != nullptr) lastSlash[1] = '\0';
    i32 result = 0;
    char* level = folder + RootLength(folder);
    if (FirstBackslash(level) == nullptr) {
        RemoveTrailingBackslash(folder);
        if (!EnterOrCreate(folder)) result = 1;
    } else if (!IsCurrentFolder(folder) && !SetCurrentDirectoryA(folder)) {
        // Some level is missing: each is entered, or made, from the root down.
        for (char* slash; (slash = FirstBackslash(level)) != nullptr; level = slash + 1) {
            *slash = '\0';
            bool entered = EnterOrCreate(folder);
            *slash = '\\';
            if (!entered) {
                result = 1;
                break;
            }
        }
    }
    ReleaseBlock(&folder);
    return result;
}
