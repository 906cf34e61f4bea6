#include "uninstall/settings_removal.h"

#include <string.h>

#include "archive/cursor.h"
#include "archive/uninstall_settings.h"
#include "common/file.h"
#include "common/helpers.h"
#include "common/macros.h"
#include "common/paths.h"
#include "common/registry.h"

// Longer than this, a profile file holds more than blank lines.
static const u32 BlankProfileLimit = 64;

struct Setting {
    u8 kind;
    u8 flags;
    u32 root;
    char first[SettingNameCapacity];   // key path, or profile file
    char second[SettingNameCapacity];  // value name, or section
    char third[SettingNameCapacity];   // profile key
    char value[SettingValueCapacity];
};

static bool ReadSetting(Cursor& cursor, Setting* setting) {
    return TakeU8(cursor, &setting->kind) && TakeU8(cursor, &setting->flags) && TakeU32(cursor, &setting->root) &&
           TakeCountedText(cursor, setting->first, SettingNameCapacity) &&
           TakeCountedText(cursor, setting->second, SettingNameCapacity) &&
           TakeCountedText(cursor, setting->third, SettingNameCapacity) &&
           TakeCountedText(cursor, setting->value, SettingValueCapacity);
}

// True when `current` is what setup wrote: `stored` with its macros expanded.
static bool HoldsExpanded(const char* current, const char* stored) {
    char expanded[SettingValueCapacity];
    return ExpandMacros(expanded, stored, SettingValueCapacity) < SettingValueCapacity &&
           strcmp(current, expanded) == 0;
}

// ---------------------------------------------------------------------------
// Registry values

static bool RegistryValueUnchanged(HKEY key, const Setting& setting) {
    char current[SettingValueCapacity];
    DWORD type = 0, size = SettingValueCapacity - 1;
    if (RegQueryValueExA(key, setting.second, nullptr, &type, reinterpret_cast<BYTE*>(current), &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    current[size] = '\0';  // setup stores its texts without the terminator
    return HoldsExpanded(current, setting.value);
}

static bool IsEmptyKey(HKEY root, const char* path) {
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD subkeys = 1, values = 1;
    LONG result = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                                   nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return result == ERROR_SUCCESS && subkeys == 0 && values == 0;
}

static u32 KeyDepth(const char* path) {
    u32 depth = 1;
    for (const char* c = path; *c != '\0'; c = NextChar(c)) depth += *c == '\\';
    return depth;
}

// Deletes the key and then each parent left empty, as a setup made them.
// Keys right under the root ("Software") always stay, except the classes
// root's own entries (a file type, a program's class). Emptiness is checked
// first because Windows 95 and 98 delete a key with everything below it.
static void RemoveEmptyKeys(HKEY root, char* path) {
    const u32 lowestDepth = root == HKEY_CLASSES_ROOT ? 1 : 2;
    for (char* last; (last = LastBackslash(path)) != nullptr && last[1] == '\0';) *last = '\0';
    while (path[0] != '\0' && KeyDepth(path) >= lowestDepth && IsEmptyKey(root, path) &&
           RegDeleteKeyA(root, path) == ERROR_SUCCESS) {
        char* last = LastBackslash(path);
        if (last == nullptr) return;
        *last = '\0';
    }
}

static void RemoveRegistryValue(Setting* setting) {
    HKEY root = RegistryRoot(setting->root);
    HKEY key;
    if (setting->first[0] == '\0' ||
        RegOpenKeyExA(root, setting->first, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    bool ours = !(setting->flags & SettingOnlyIfUnchanged) || RegistryValueUnchanged(key, *setting);
    if (ours) RegDeleteValueA(key, setting->second);
    RegCloseKey(key);
    if (ours) RemoveEmptyKeys(root, setting->first);
}

// ---------------------------------------------------------------------------
// Profile entries

// The profile file's full path: a bare name lies in the Windows folder, as
// the profile functions take it.
static bool ProfilePath(const char* stored, char* path) {
    char expanded[PathCapacity];
    if (ExpandMacros(expanded, stored, PathCapacity) >= PathCapacity || expanded[0] == '\0') return false;
    if (FirstBackslash(expanded) != nullptr) {
        CopyPath(path, expanded, PathCapacity);
        return true;
    }
    PutWindowsFolder(path);
    u32 length = static_cast<u32>(strlen(path));
    if (length + 1 + strlen(expanded) >= PathCapacity) return false;
    AppendBackslash(path);
    strcat(path, expanded);
    return true;
}

// A profile file with no section left and nothing but blanks goes.
static void RemoveBlankProfile(const char* path) {
    char names[4];
    if (GetPrivateProfileSectionNamesA(names, sizeof names, path) != 0) return;
    FileHandle file = OpenExistingFile(path, OpenRead);
    if (file == NoFile) return;
    char bytes[BlankProfileLimit];
    u32 size = FileSize(file), got = 0;
    bool blank = size <= BlankProfileLimit && ReadFromFile(file, bytes, size, &got) && got == size;
    for (u32 i = 0; blank && i < size; i++) blank = bytes[i] == ' ' || bytes[i] == '\t' || bytes[i] == '\r' || bytes[i] == '\n';
    CloseFile(file);
    if (blank) DeleteFileA(path);
}

static void RemoveProfileEntry(Setting* setting) {
    char path[PathCapacity];
    // Never makes a file: when the file went, its entries went with it.
    if (setting->second[0] == '\0' || setting->third[0] == '\0' || !ProfilePath(setting->first, path) ||
        GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
        return;
    if (setting->flags & SettingOnlyIfUnchanged) {
        char current[SettingValueCapacity];
        GetPrivateProfileStringA(setting->second, setting->third, "", current, SettingValueCapacity, path);
        if (!HoldsExpanded(current, setting->value)) return;
    }
    WritePrivateProfileStringA(setting->second, setting->third, nullptr, path);
    char rest[4];
    if (GetPrivateProfileSectionA(setting->second, rest, sizeof rest, path) == 0)
        WritePrivateProfileStringA(setting->second, nullptr, nullptr, path);
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, path);  // written out now, not when the system likes
    RemoveBlankProfile(path);
}

void RemoveSettings(RemovalRun* run) {
    Cursor cursor = MakeCursor(run->data->settings, run->data->settingsLength);
    u32 count;
    if (!TakeU32(cursor, &count)) return;
    Setting setting;
    for (u32 i = 0; i < count && ReadSetting(cursor, &setting); i++) {
        ShowRemoving(run, setting.first);
        if (setting.kind == RegistrySetting) RemoveRegistryValue(&setting);
        if (setting.kind == ProfileSetting) RemoveProfileEntry(&setting);
    }
}
