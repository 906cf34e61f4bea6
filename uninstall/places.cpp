#include "uninstall/places.h"

#include <windows.h>
#include <shlobj.h>

#include <string.h>

#include "archive/uninstall_log_format.h"
#include "common/helpers.h"
#include "common/paths.h"
#include "common/system_paths.h"

enum PlaceKind { FilePlace, MenuPlace };

struct SystemFolder {
    int csidl;  // -1: the Windows folder, -2: the system folder
    PlaceKind kind;
};

static const int WindowsFolderId = -1;
static const int SystemFolderId = -2;
static const SystemFolder systemFolders[] = {
    {WindowsFolderId, FilePlace}, {SystemFolderId, FilePlace}, {CSIDL_FONTS, FilePlace},
    {CSIDL_DESKTOPDIRECTORY, FilePlace}, {CSIDL_COMMON_DESKTOPDIRECTORY, FilePlace},
    {CSIDL_PROGRAMS, MenuPlace}, {CSIDL_STARTMENU, MenuPlace}, {CSIDL_STARTUP, MenuPlace},
    {CSIDL_COMMON_PROGRAMS, MenuPlace}, {CSIDL_COMMON_STARTMENU, MenuPlace}, {CSIDL_COMMON_STARTUP, MenuPlace},
};
const u32 SystemFolderCount = sizeof systemFolders / sizeof systemFolders[0];

static char destination[PathCapacity];
// Each without a trailing backslash; empty when the system has no such folder.
static char folderPaths[SystemFolderCount][PathCapacity];
static bool foldersLookedUp;

static void LookUpFolder(const SystemFolder& folder, char* path) {
    path[0] = '\0';
    if (folder.csidl == WindowsFolderId) {
        GetWindowsDirectoryA(path, PathCapacity);
    } else if (folder.csidl == SystemFolderId) {
        GetSystemDirectoryA(path, PathCapacity);
    } else {
        GetShellFolderPath(folder.csidl, path);
    }
    RemoveTrailingBackslash(path);
}

// The system's folders are looked up when the first record outside the
// destination needs them: the shell's lookups cost more than removing a few
// files, and a log whose records all lie in the destination needs none.
static void LookUpSystemFolders() {
    if (foldersLookedUp) return;
    for (u32 i = 0; i < SystemFolderCount; i++) LookUpFolder(systemFolders[i], folderPaths[i]);
    foldersLookedUp = true;
}

void InitPlaces(const char* folder) {
    CopyPath(destination, folder, PathCapacity - 1);
    AppendBackslash(destination);
    foldersLookedUp = false;
}

const char* DestinationFolder() { return destination; }

static bool SameIgnoringCase(const char* a, const char* b, u32 length) {
    return CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, a, static_cast<int>(length), b,
                          static_cast<int>(length)) == CSTR_EQUAL;
}

// One path component: no separators, drive colons or wildcards, and not
// "." or "..", so that joining it never leaves the folder it is joined to.
static bool IsPlainName(const char* name, u32 length) {
    if (length == 0 || (name[0] == '.' && (length == 1 || (length == 2 && name[1] == '.')))) return false;
    // The second byte of a two-byte character may be a backslash or '|': only the
    // characters of their own are checked.
    for (const char* c = name; c < name + length; c = NextChar(c)) {
        unsigned char byte = static_cast<unsigned char>(*c);
        if (byte < ' ' || strchr("\\/:*?\"<>|", byte) != nullptr) return false;
    }
    return true;
}

// True when every backslash-separated component of `folders` is plain.
static bool ArePlainFolders(const char* folders) {
    for (;;) {
        const char* next = FirstBackslash(folders);
        u32 length = next != nullptr ? static_cast<u32>(next - folders) : static_cast<u32>(strlen(folders));
        if (!IsPlainName(folders, length)) return false;
        if (next == nullptr) return true;
        folders = next + 1;
    }
}

static bool Join(char* path, const char* folder, const char* rest, const char* name) {
    u32 length = static_cast<u32>(strlen(folder) + strlen(rest) + strlen(name));
    if (length + 2 > ResolvedCapacity) return false;
    strcpy(path, folder);
    strcat(path, rest);
    if (name[0] != '\0') {
        AppendBackslash(path);
        strcat(path, name);
    }
    RemoveTrailingBackslash(path);
    return true;
}

static bool IsSystemFolder(const char* folder, PlaceKind kind) {
    LookUpSystemFolders();
    u32 length = static_cast<u32>(strlen(folder));
    for (u32 i = 0; i < SystemFolderCount; i++) {
        if (systemFolders[i].kind == kind && folderPaths[i][0] != '\0' && strlen(folderPaths[i]) == length &&
            SameIgnoringCase(folder, folderPaths[i], length))
            return true;
    }
    return false;
}

bool ResolveFileRecord(const char* folder, const char* name, char* path, bool* isFolder) {
    *isFolder = name[0] == '\0';
    if (!*isFolder && !IsPlainName(name, static_cast<u32>(strlen(name)))) return false;
    if (folder[0] == LogDestinationFolder && folder[1] == '\0') {
        // "." with no name would be the destination itself: not a record setup writes.
        return !*isFolder && Join(path, destination, "", name);
    }
    if (folder[0] == LogDestinationFolder && folder[1] == '\\') {
        return ArePlainFolders(folder + 2) && Join(path, destination, folder + 2, name);
    }
    // Folder entries only ever lie below the destination.
    return !*isFolder && IsSystemFolder(folder, FilePlace) && Join(path, folder, "", name);
}

static bool EndsWithLink(const char* name) {
    u32 length = static_cast<u32>(strlen(name));
    return length > 4 && SameIgnoringCase(name + length - 4, ".lnk", 4);
}

bool ResolveShortcutRecord(const char* folder, const char* name, char* path, u32* root) {
    if (!IsPlainName(name, static_cast<u32>(strlen(name))) || !EndsWithLink(name)) return false;
    LookUpSystemFolders();
    for (u32 i = 0; i < SystemFolderCount; i++) {
        u32 length = static_cast<u32>(strlen(folderPaths[i]));
        if (systemFolders[i].kind != MenuPlace || length == 0 || strlen(folder) < length ||
            !SameIgnoringCase(folder, folderPaths[i], length))
            continue;
        const char* rest = folder + length;
        if (rest[0] == '\0' || (rest[0] == '\\' && ArePlainFolders(rest + 1))) {
            *root = length;
            return Join(path, folder, "", name);
        }
    }
    return false;
}

static const char uninstallKeyPrefix[] = UNINSTALL_KEY_PREFIX;
static const u32 UninstallKeyPrefixLength = sizeof uninstallKeyPrefix - 1;

bool IsUninstallKey(u32 root, const char* keyPath) {
    return root == LogLocalMachineRoot && strlen(keyPath) > UninstallKeyPrefixLength &&
           SameIgnoringCase(keyPath, uninstallKeyPrefix, UninstallKeyPrefixLength) &&
           FirstBackslash(keyPath + UninstallKeyPrefixLength) == nullptr;
}

const char* DisplayNameOf(const char* keyPath) {
    return strlen(keyPath) > UninstallKeyPrefixLength ? keyPath + UninstallKeyPrefixLength : "";
}

void RemoveEmptyFolders(const char* path, u32 rootLength) {
    char folder[ResolvedCapacity];
    CopyPath(folder, path, ResolvedCapacity);
    for (;;) {
        char* last = LastBackslash(folder);
        if (last == nullptr || static_cast<u32>(last - folder) <= rootLength) return;
        *last = '\0';
        // Fails, and ends the climb, for a folder that still holds something.
        if (!RemoveDirectoryA(folder)) return;
    }
}
