#include "engine/folders.h"

#include <windows.h>

#include <string.h>

#include "common/helpers.h"
#include "common/paths.h"

// Makes `folder` the current directory, creating it when it is missing.
static bool EnterOrCreate(const char* folder) {
    if (SetCurrentDirectoryA(folder)) return true;
    return CreateDirectoryA(folder, nullptr) && SetCurrentDirectoryA(folder);
}

// Where the folders below the root begin: after "\\" of a network path or
// "C:\" of a drive.
static u32 RootLength(const char* path) {
    if (path[0] == '\\' && path[1] == '\\') return 2;
    if (path[0] != '\0' && path[1] == ':' && path[2] == '\\') return 3;
    return 0;
}

i32 CreateFolderPath(const char* path) {
    char* folder;
    if (!AllocateZeroedBlock(PathCapacity, &folder)) return -1;
    CopyPath(folder, path, PathCapacity);
    char* lastSlash = strrchr(folder, '\\');
    if (lastSlash != nullptr) lastSlash[1] = '\0';
    i32 result = 0;
    char* level = folder + RootLength(folder);
    if (strchr(level, '\\') == nullptr) {
        RemoveTrailingBackslash(folder);
        if (!EnterOrCreate(folder)) result = 1;
    } else {
        for (char* slash; (slash = strchr(level, '\\')) != nullptr; level = slash + 1) {
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
