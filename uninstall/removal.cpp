#include "uninstall/removal.h"

#include <string.h>

#include "archive/cursor.h"
#include "archive/uninstall_log_format.h"
#include "archive/uninstall_texts.h"
#include "common/deferred_operations.h"
#include "common/helpers.h"
#include "common/display_text.h"
#include "common/paths.h"
#include "common/window_texts.h"
#include "uninstall/places.h"
#include "uninstall/progress_window.h"
#include "uninstall/settings_removal.h"

static const char SharedLibrariesKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
static const char FontsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts";
static const char UnregisterFunction[] = "DllUnregisterServer";
static const u32 TextCapacity = 1024;
static const u32 ValueNameCapacity = 512;
static const int YesAnswer = IDYES;

void FillText(char* buffer, u32 capacity, const char* format, const char* name) {
    u32 out = 0;
    bool inserted = false;
    for (const char* p = format; *p != '\0' && out + 1 < capacity; p++) {
        if (p[0] == '%' && p[1] == '%') {
            buffer[out++] = '%';
            p++;
        } else if (p[0] == '%' && p[1] == 's' && !inserted) {
            for (const char* n = name; *n != '\0' && out + 1 < capacity; n++) buffer[out++] = *n;
            inserted = true;
            p++;
        } else {
            buffer[out++] = *p;
        }
    }
    buffer[out] = '\0';
}

u32 RecordCount(const u8* body, u32 length) {
    Cursor cursor = MakeCursor(body, length);
    u32 count = 0;
    return TakeU32(cursor, &count) ? count : 0;
}

static const char* Text(const RemovalRun* run, u32 n) { return UninstallTextOf(*run->data, n); }

static bool AskYes(const RemovalRun* run, u32 question, const char* name) {
    char text[TextCapacity];
    char shownName[PathCapacity];
    PathForDisplay(name, shownName, PathCapacity);
    FillText(text, TextCapacity, Text(run, question), shownName);
    return ShowMessageBox(run->window, text, Text(run, CaptionText), MB_YESNO | MB_ICONQUESTION) == YesAnswer;
}

void ShowRemoving(const RemovalRun* run, const char* what) {
    char text[TextCapacity];
    char shownName[WorkPathCapacity];
    PathForDisplay(what, shownName, WorkPathCapacity);
    FillText(text, TextCapacity, Text(run, RemovingText), shownName);
    ShowProgressStep(run->window, text);
}

void DeleteOrSchedule(RemovalRun* run, const char* path) {
    if (DeleteFileA(path)) return;
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return;  // already gone
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
        if (DeleteFileA(path)) return;
    }
    ScheduleAtRestart(nullptr, path);
    run->leftForRestart = true;
}

// Lowers the file's count under SharedDLLs. True while another installation
// still counts it; when the count reaches zero (or the file was never
// counted) its value goes, whether the file is then kept or removed.
static bool IsStillShared(const char* path) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SharedLibrariesKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return false;
    DWORD type = REG_DWORD, count = 0, size = sizeof count;
    bool stillShared = RegQueryValueExA(key, path, nullptr, &type, reinterpret_cast<BYTE*>(&count), &size) ==
                           ERROR_SUCCESS &&
                       size == sizeof count && count > 1;
    if (stillShared) {
        count--;
        RegSetValueExA(key, path, 0, type, reinterpret_cast<const BYTE*>(&count), sizeof count);
    } else {
        RegDeleteValueA(key, path);
    }
    RegCloseKey(key);
    return stillShared;
}

// A shared file nobody counts any more is kept when the user says so, and
// always without questions ("/X"): a setup that removes earlier
// installations cannot tell whether another program still uses it, and
// a file left behind does less harm than one missing.
static bool KeepsSharedFile(const RemovalRun* run, const char* path) {
    if (IsStillShared(path)) return true;
    return run->silent || AskYes(run, KeepSharedText, path);
}

static void Unregister(const char* path) {
    // Its own folder is searched for what it needs, as when it was registered.
    HMODULE library = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (library == nullptr) return;
    typedef HRESULT(STDAPICALLTYPE * UnregisterServer)();
    UnregisterServer unregister = reinterpret_cast<UnregisterServer>(
        reinterpret_cast<void*>(GetProcAddress(library, UnregisterFunction)));
    if (unregister != nullptr) unregister();
    FreeLibrary(library);
}

// Removes the values under the Fonts key whose data names this font file,
// by its name alone or by its full path.
static void ForgetFont(const char* path) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, FontsKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    const char* slash = LastBackslash(path);
    const char* name = slash != nullptr ? slash + 1 : path;
    char valueName[ValueNameCapacity];
    char data[ResolvedCapacity];
    for (DWORD index = 0;;) {
        DWORD nameSize = ValueNameCapacity, dataSize = ResolvedCapacity - 1, type = 0;
        LONG result = RegEnumValueA(key, index, valueName, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(data),
                                    &dataSize);
        if (result == ERROR_NO_MORE_ITEMS) break;
        bool names = result == ERROR_SUCCESS && type == REG_SZ;
        if (names) {
            data[dataSize] = '\0';
            names = lstrcmpiA(data, name) == 0 || lstrcmpiA(data, path) == 0;
        }
        // A removed value moves the later ones down by one.
        if (names && RegDeleteValueA(key, valueName) == ERROR_SUCCESS) continue;
        index++;
    }
    RegCloseKey(key);
}

static void RemoveFont(const char* path) {
    if (RemoveFontResourceA(path)) PostMessageA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0);
    ForgetFont(path);
}

// The file passes over the list. Setup registers its libraries once every
// file is in place, so they are unregistered before anything is removed:
// a library may need others of the set, listed before or after it.
enum FilePass {
    DecidePass,  // keep or remove each shared file, unregister what goes
    RemovePass,  // remove fonts and files that go
    FolderPass,  // folder entries and the emptied folders below the destination
};

// The first pass's decision for one file record: true when the file stays.
static bool DecideFile(RemovalRun* run, const char* path, u8 flags) {
    if ((flags & LogSharedLibrary) && KeepsSharedFile(run, path)) return true;
    if (flags & LogSelfRegistered) Unregister(path);
    return false;
}

static void RemoveFile(RemovalRun* run, const char* path, u8 flags) {
    ShowRemoving(run, path);
    if (flags & LogFont) RemoveFont(path);
    DeleteOrSchedule(run, path);
}

static bool IsFolder(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// What the decide pass learns of each record, a byte each, for the passes
// after it: whether the file stays, and whether the record names a folder
// (looked up once: the later passes would only find the same).
const u8 KeptRecord = 1;
const u8 FolderRecord = 2;

// One pass over the file list; `records` holds a byte per record, written
// by the decide pass and read by the passes after it.
static void WalkFileList(RemovalRun* run, FilePass pass, u8* records) {
    Cursor cursor = MakeCursor(run->data->fileList, run->data->fileListLength);
    u32 count;
    if (!TakeU32(cursor, &count)) return;
    const u32 destinationRoot = static_cast<u32>(strlen(DestinationFolder())) - 1;
    char folder[ResolvedCapacity], name[ResolvedCapacity], path[ResolvedCapacity];
    // The folder the folder pass last climbed from for a file: the next
    // file of the same folder would climb the same way, to the same end.
    char climbed[ResolvedCapacity] = "";
    for (u32 i = 0; i < count; i++) {
        u8 flags;
        if (!TakeCountedText(cursor, folder, ResolvedCapacity) || !TakeCountedText(cursor, name, ResolvedCapacity) ||
            !TakeU8(cursor, &flags))
            return;  // a damaged list: nothing after it can be trusted
        bool isFolder;
        if (!ResolveFileRecord(folder, name, path, &isFolder)) {
            if (pass == DecidePass) run->refused++;
            continue;
        }
        if (pass == DecidePass) {
            // A record may name a folder by its last part, as a file is named.
            if (isFolder || IsFolder(path)) {
                records[i] = FolderRecord;
            } else if (DecideFile(run, path, flags)) {
                records[i] = KeptRecord;
            }
            continue;
        }
        isFolder = records != nullptr ? (records[i] & FolderRecord) != 0 : isFolder || IsFolder(path);
        if (pass == RemovePass && !isFolder) {
            if ((records[i] & KeptRecord) == 0) RemoveFile(run, path, flags);
        } else if (pass == FolderPass && folder[0] == LogDestinationFolder) {
            // Folder entries may come before folders inside them: climbing
            // from each record removes every level once it is empty.
            if (isFolder) {
                RemoveDirectoryA(path);  // its climb below tries its parents again
            } else if (strcmp(folder, climbed) == 0) {
                continue;
            } else {
                strcpy(climbed, folder);
            }
            RemoveEmptyFolders(path, destinationRoot);
        }
    }
}

static void RemoveShortcuts(RemovalRun* run) {
    Cursor cursor = MakeCursor(run->data->shortcutList, run->data->shortcutListLength);
    u32 count;
    if (!TakeU32(cursor, &count)) return;
    char folder[ResolvedCapacity], name[ResolvedCapacity], path[ResolvedCapacity];
    for (u32 i = 0; i < count; i++) {
        if (!TakeCountedText(cursor, folder, ResolvedCapacity) || !TakeCountedText(cursor, name, ResolvedCapacity))
            return;
        u32 root;
        if (!ResolveShortcutRecord(folder, name, path, &root)) {
            run->refused++;
            continue;
        }
        ShowRemoving(run, path);
        DeleteOrSchedule(run, path);
        RemoveEmptyFolders(path, root);
    }
}

static void RemoveUninstallKey(RemovalRun* run) {
    Cursor cursor = MakeCursor(run->data->uninstallKey, run->data->uninstallKeyLength);
    u32 root;
    char keyPath[ResolvedCapacity];
    if (!TakeU32(cursor, &root) || !TakeCountedText(cursor, keyPath, ResolvedCapacity)) return;
    if (!IsUninstallKey(root, keyPath)) {
        run->refused++;
        return;
    }
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath);
}

void RemoveLoggedItems(RemovalRun* run) {
    // Every record takes at least one byte of the list, so its length
    // bounds the number of records. Without memory for their decisions no
    // file is touched: better left behind than removed against the count.
    u8* records = nullptr;
    if (AllocateZeroedBlock(run->data->fileListLength + 1, &records)) {
        WalkFileList(run, DecidePass, records);
        WalkFileList(run, RemovePass, records);
    }
    RemoveShortcuts(run);
    WalkFileList(run, FolderPass, records);
    ReleaseBlock(&records);
    RemoveSettings(run);
    RemoveUninstallKey(run);
}
