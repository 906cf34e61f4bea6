#include "control/install_sets.h"

#include <string.h>

#include "archive/script.h"
#include "common/helpers.h"
#include "common/paths.h"
#include "engine/path_macros.h"

// The registry value the set names, into ScratchPath; empty when the key or
// value is missing, empty, or too long for the buffer.
static void ReadRecordedRegistryValue(u32 set, const char* key) {
    ScratchPath[0] = '\0';
    HKEY opened;
    if (RegOpenKeyExA(RegistryRoot(InstallSetNumber(set, RegistryRootField)), key, 0, KEY_READ, &opened) != 0) return;
    DWORD size = PathCapacity;
    if (RegQueryValueExA(opened, InstallSetText(set, RegistryValueField), nullptr, nullptr,
                         reinterpret_cast<BYTE*>(ScratchPath), &size) != 0 ||
        (size == PathCapacity && ScratchPath[PathCapacity - 1] != '\0')) {
        size = 0;  // a value without room for its terminator is too long
    }
    ScratchPath[size < PathCapacity ? size : PathCapacity - 1] = '\0';
    RegCloseKey(opened);
}

// The profile entry the set names, into ScratchPath; false when the set does
// not name all three of file, section and entry.
static bool ReadRecordedProfileEntry(u32 set) {
    const char* file = InstallSetField(set, IniFileField);
    const char* section = InstallSetField(set, IniSectionField);
    const char* entry = InstallSetField(set, IniKeyField);
    if (file == nullptr || section == nullptr || entry == nullptr) return false;
    GetPrivateProfileStringA(section, entry, "", ScratchPath, PathCapacity, file);
    return true;
}

// Cuts DestinationPath back, character by character, to its longest leading
// part that is an existing folder, and spells that as stored on disk.
static void TakeRecordedFolder() {
    CopyPath(DestinationPath, ScratchPath, PathCapacity);
    u32 length = static_cast<u32>(strlen(DestinationPath));
    // A two-byte character goes as a whole.
    while (length > 0 && !SetCurrentDirectoryA(DestinationPath))
        DestinationPath[length = WholeCharacterLength(DestinationPath, length - 1)] = '\0';
    if (length > 0) CorrectPathCase(DestinationPath);
}

void FindEarlierInstallation(u32 set) {
    const char* defaultFolder = InstallSetField(set, DefaultDestinationField);
    if (defaultFolder != nullptr) CopyPath(DestinationPath, defaultFolder, PathCapacity);
    const char* key = InstallSetField(set, RegistryKeyField);
    bool recorded;
    if (key != nullptr) {
        ReadRecordedRegistryValue(set, key);
        recorded = ScratchPath[0] != '\0';
    } else {
        recorded = ReadRecordedProfileEntry(set) && ScratchPath[0] != '\0';
    }
    if (recorded)
        TakeRecordedFolder();
    else
        ExpandMacros(DestinationPath, DestinationPath, PathCapacity);
}

// Appends `count` characters of `text` to `result` (length *length); false
// when the result would not fit in PathCapacity - 1 characters.
static bool AppendToResult(char* result, u32* length, const char* text, u32 count) {
    if (*length + count >= PathCapacity) return false;
    memcpy(result + *length, text, count);
    *length += count;
    result[*length] = '\0';
    return true;
}

// Looks `result` up and replaces its last component, which starts at
// `component`, with the name stored on disk. False when nothing is found or
// the stored name does not fit.
static bool TakeStoredName(char* result, u32* length, u32 component, bool replace) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(result, &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    if (!replace) return true;
    *length = component;
    result[component] = '\0';
    return AppendToResult(result, length, found.cFileName, static_cast<u32>(strlen(found.cFileName)));
}

void CorrectPathCase(char* path) {
    // A wildcard would make the search spell some other entry's name.
    if (strpbrk(path, "*?") != nullptr) return;
    char result[PathCapacity];
    u32 length = 0;
    result[0] = '\0';
    const char* rest = path;
    if (path[0] != '\0' && path[1] == ':') {
        AppendToResult(result, &length, path, 2);
        rest += 2;
    }
    while (*rest == '\\') rest++;
    for (const char* slash; (slash = FirstBackslash(rest)) != nullptr; rest = slash + 1) {
        if (!AppendToResult(result, &length, "\\", 1)) return;
        u32 component = length;
        if (!AppendToResult(result, &length, rest, static_cast<u32>(slash - rest))) return;
        if (!TakeStoredName(result, &length, component, true)) return;
    }
    if (!AppendToResult(result, &length, "\\", 1)) return;
    u32 component = length;
    if (!AppendToResult(result, &length, rest, static_cast<u32>(strlen(rest)))) return;
    RemoveTrailingBackslash(result);
    length = static_cast<u32>(strlen(result));
    if (!TakeStoredName(result, &length, component, *rest != '\0')) return;
    CopyPath(path, result, PathCapacity);
}
