// Where the uninstall program may remove things. A log record is followed
// only into the places setup installs to: the destination folder (the
// uninstaller's own folder) and below it, the Windows, system and fonts
// folders and the desktops for files, the Start menus for shortcuts, and
// the set's key under the Uninstall key. Anything else is refused.
#pragma once
#include "common/types.h"

// Longest resolved path, terminator included.
const u32 ResolvedCapacity = 520;

// Takes `destination` (a folder, with or without its backslash) and looks
// up the system's folders.
void InitPlaces(const char* destination);
// The destination folder, ending in a backslash.
const char* DestinationFolder();

// A file record's path into `path` (ResolvedCapacity). `folder` is "." or
// ".\sub" (below the destination) or one of the absolute folders above;
// an empty `name` names the folder itself (a folder entry), which must lie
// below the destination. *isFolder tells which. False when refused.
bool ResolveFileRecord(const char* folder, const char* name, char* path, bool* isFolder);
// A shortcut record's path: `folder` in or below a Start menu folder, `name`
// a plain ".lnk" file name. *root receives the length of the Start menu
// folder's path, below which empty folders may go. False when refused.
bool ResolveShortcutRecord(const char* folder, const char* name, char* path, u32* root);
// True for HKEY_LOCAL_MACHINE and a key directly below the Uninstall key.
bool IsUninstallKey(u32 root, const char* keyPath);
// The set's display name in an uninstall key path (the text after the
// Uninstall key's backslash).
const char* DisplayNameOf(const char* keyPath);

// Removes the folder of `path` and its parents while they are empty and
// longer than `rootLength` characters.
void RemoveEmptyFolders(const char* path, u32 rootLength);
