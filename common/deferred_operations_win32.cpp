#include "common/deferred_operations.h"

#include <windows.h>

#include <string.h>

#include "common/file.h"
#include "common/helpers.h"
#include "common/platform.h"

static const DWORD MoveReplaceAtRestart = MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT;
static const u32 ShortPathCapacity = MAX_PATH;
static const char RenameSection[] = "Rename";
static const char WininitName[] = "\\WININIT.INI";
// The placeholder key has the length of "NUL", so renaming it in place
// leaves the rest of the file where it was.
static const char PlaceholderKey[] = "xyz";
static const char DeleteKey[] = "NUL";
static const u32 KeyLength = 3;
static const u32 ValueStart = KeyLength + 1;  // after "xyz="

// True when `text` (without its terminator) is at data[at...], reading no
// byte at or beyond `readable`.
static bool TextAt(const char* data, u32 at, u32 readable, const char* text) {
    for (; *text != '\0'; text++, at++) {
        if (at >= readable || data[at] != *text) return false;
    }
    return true;
}

u32 FindPlaceholder(const char* data, u32 length, const char* shortSource) {
    if (length <= ValueStart) return PlaceholderNotFound;
    const u32 readable = length + PlaceholderSpare;
    for (u32 i = 0; i < length - ValueStart; i++) {
        if (memcmp(data + i, PlaceholderKey, KeyLength) == 0 && data[i + KeyLength] == '=' &&
            TextAt(data, i + ValueStart, readable, shortSource))
            return i;
    }
    return PlaceholderNotFound;
}

// WININIT.INI is carried out in real mode, before long names exist, so every
// name is written in its 8.3 form. When there is no short form (the file is
// gone, or the path is too long) the operation is dropped: a long name there
// would not be understood, and nothing is done rather than the wrong thing.
static bool ToShortPath(const char* path, char* shortPath) {
    DWORD length = GetShortPathNameA(path, shortPath, ShortPathCapacity);
    return length != 0 && length < ShortPathCapacity;
}

static bool WininitPath(char* profile) {
    UINT length = GetWindowsDirectoryA(profile, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    lstrcatA(profile, WininitName);
    return true;
}

static void WriteRenameLine(const char* key, const char* value, const char* profile) {
    WritePrivateProfileStringA(RenameSection, key, value, profile);
    // Writes the cached profile to disk, so the file can be edited directly.
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, profile);
}

// Turns the "xyz=<shortSource>" line just written into "NUL=<shortSource>"
// by editing the file's bytes, which the profile functions cannot do
// without merging it with an earlier "NUL" line.
static void RenamePlaceholder(const char* profile, const char* shortSource) {
    FileHandle file = OpenExistingFile(profile, OpenReadWrite);
    if (file == NoFile) return;
    u32 length = FileSize(file);
    char* data = nullptr;
    // The size check also rejects SeekFailed.
    if (length < SeekFailed - PlaceholderSpare && AllocateBlock(length + PlaceholderSpare, &data)) {
        // Zeroed spare bytes never match a name, so a source running past
        // the end of the file is not taken for a match.
        memset(data + length, 0, PlaceholderSpare);
        if (ReadExactly(file, data, length)) {
            u32 at = FindPlaceholder(data, length, shortSource);
            if (at != PlaceholderNotFound) {
                memcpy(data + at, DeleteKey, KeyLength);
                if (SeekFile(file, 0, SeekFromStart) == 0) WriteToFile(file, data, length);
            }
        }
        ReleaseBlock(&data);
    }
    CloseFile(file);
}

static void ScheduleInWininit(const char* target, const char* source) {
    char shortSource[ShortPathCapacity];
    char shortTarget[ShortPathCapacity];
    char profile[MAX_PATH + sizeof WininitName];
    if (!ToShortPath(source, shortSource)) return;
    if (target != nullptr && !ToShortPath(target, shortTarget)) return;
    if (!WininitPath(profile)) return;
    if (target != nullptr) {
        WriteRenameLine(shortTarget, shortSource, profile);
        return;
    }
    WriteRenameLine(PlaceholderKey, shortSource, profile);
    RenamePlaceholder(profile, shortSource);
}

void ScheduleAtRestart(const char* target, const char* source) {
    if (isNt) {
        // A null target asks for a deletion; the result is not needed, since
        // there is nothing to do differently when the system refuses.
        MoveFileExA(source, target, target != nullptr ? MoveReplaceAtRestart : MOVEFILE_DELAY_UNTIL_REBOOT);
        return;
    }
    ScheduleInWininit(target, source);
}

// NT keeps the operations as pairs of native paths ("\??\C:\...") in one
// multi-string value; the pair whose source is ours is cut out of it.
static const char SessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
static const WCHAR PendingOperationsValue[] = L"PendingFileRenameOperations";
const u32 NativePrefixLength = 4;  // "\\??\\"

static void CancelPendingRename(const char* source) {
    WCHAR wanted[ShortPathCapacity + NativePrefixLength];
    lstrcpyW(wanted, L"\\??\\");
    if (MultiByteToWideChar(CP_ACP, 0, source, -1, wanted + NativePrefixLength, ShortPathCapacity) == 0) return;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SessionManagerKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    DWORD type, size = 0;
    WCHAR* list = nullptr;
    if (RegQueryValueExW(key, PendingOperationsValue, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        AllocateZeroedBlock(size + 2 * sizeof(WCHAR), &list) &&
        RegQueryValueExW(key, PendingOperationsValue, nullptr, &type, reinterpret_cast<BYTE*>(list), &size) ==
            ERROR_SUCCESS) {
        // The zeroed spare words end the last text even when the value does not.
        WCHAR* end = list + size / sizeof(WCHAR);
        for (WCHAR* pair = list; pair < end && *pair != 0;) {
            WCHAR* target = pair + lstrlenW(pair) + 1;
            WCHAR* next = target < end ? target + lstrlenW(target) + 1 : end;
            if (next > end) next = end;
            if (lstrcmpiW(pair, wanted) != 0) {
                pair = next;
                continue;
            }
            memmove(pair, next, (end - next) * sizeof(WCHAR));
            size -= static_cast<DWORD>((next - pair) * sizeof(WCHAR));
            // The last operation gone, so goes the value, as before the first.
            if (list[0] == 0)
                RegDeleteValueW(key, PendingOperationsValue);
            else
                RegSetValueExW(key, PendingOperationsValue, 0, type, reinterpret_cast<BYTE*>(list), size);
            break;
        }
    }
    ReleaseBlock(&list);
    RegCloseKey(key);
}

void CancelAtRestart(const char* target, const char* source) {
    if (isNt) {
        CancelPendingRename(source);
        return;
    }
    char shortTarget[ShortPathCapacity];
    char profile[MAX_PATH + sizeof WininitName];
    // The profile keeps one value per key: the target's line is ours.
    if (ToShortPath(target, shortTarget) && WininitPath(profile))
        WriteRenameLine(shortTarget, nullptr, profile);
}
