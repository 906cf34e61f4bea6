#include "common/system_paths.h"

#include <windows.h>
#include <shlobj.h>

#include "common/helpers.h"
#include "common/paths.h"
#include "common/platform.h"

// A path the system gave: done when it fits; otherwise emptied.
static bool Took(DWORD length, char* path) {
    if (length != 0 && length < PathCapacity) return true;
    path[0] = '\0';
    return false;
}

static bool ToAnsi(const WCHAR* wide, char* path) {
    BOOL lost = FALSE;
    return WideCharToMultiByte(CP_ACP, 0, wide, -1, path, PathCapacity, nullptr, &lost) != 0 && !lost;
}

bool PutAnsiPath(const wchar_t* wide, char* path) {
    if (ToAnsi(wide, path)) return true;
    WCHAR shortPath[MAX_PATH];
    DWORD length = GetShortPathNameW(wide, shortPath, MAX_PATH);
    if (length != 0 && length < MAX_PATH && ToAnsi(shortPath, path)) return true;
    path[0] = '\0';
    return false;
}

bool GetTempFolderPath(char* path) {
    if (IsNtPlatform()) {
        WCHAR wide[MAX_PATH];
        if (!Took(GetTempPathW(MAX_PATH, wide), path) || !PutAnsiPath(wide, path)) return false;
    } else if (!Took(GetTempPathA(PathCapacity, path), path)) {
        return false;
    }
    AppendBackslash(path);
    return true;
}

bool GetOwnProgramPath(char* path) {
    if (IsNtPlatform()) {
        WCHAR wide[MAX_PATH];
        return Took(GetModuleFileNameW(nullptr, wide, MAX_PATH), path) && PutAnsiPath(wide, path);
    }
    return Took(GetModuleFileNameA(nullptr, path, PathCapacity), path);
}

bool GetShellFolderPath(int csidl, char* path) {
    path[0] = '\0';
    LPITEMIDLIST items;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, csidl, &items))) return false;
    bool found;
    if (IsNtPlatform()) {
        WCHAR wide[MAX_PATH];
        found = SHGetPathFromIDListW(items, wide) && PutAnsiPath(wide, path);
    } else {
        found = SHGetPathFromIDListA(items, path) != FALSE;
    }
    CoTaskMemFree(items);
    if (!found) path[0] = '\0';
    return found;
}
