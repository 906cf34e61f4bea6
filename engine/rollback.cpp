#include "engine/rollback.h"

#include <string.h>

#include "archive/script.h"
#include "common/deferred_operations.h"
#include "common/helpers.h"
#include "common/paths.h"
#include "common/platform.h"
#include "common/system_paths.h"
#include "engine/extraction.h"
#include "engine/install_log.h"
#include "engine/leftover_journal.h"
#include "engine/setup_state.h"

// A change, newest first. `text` holds one or two terminated texts (a path
// and the name it was put aside under or the temporary file that replaces
// it at the restart; a registry key and value name) and, for a registry
// value, its old data.
enum ChangeKind : u8 { CreatedFile, CreatedFolder, PutAsideFile, RestartReplacement, RegistryValue, FontAdded };
struct RollbackNote {
    RollbackNote* older;
    ChangeKind kind;
    u32 number;  // the old file's attributes; the old value's type, or NoOldValue
    HKEY root;
    u32 dataSize;
    char text[4];
};
const u32 NoOldValue = 0xFFFFFFFFu;

// The extension of a file kept aside while its replacement is installed.
static const char AsideExtension[] = ".$AB";

static bool Noting() { return setupScript.rollback != 0 && !changesSettled; }

// A note with room for `first`, `second` (may be null) and `dataSize`
// bytes after them; null when there is no memory (the change goes unnoted).
static RollbackNote* AddNote(ChangeKind kind, const char* first, const char* second, u32 dataSize) {
    if (!Noting()) return nullptr;
    u32 firstSize = static_cast<u32>(strlen(first)) + 1;
    u32 secondSize = second != nullptr ? static_cast<u32>(strlen(second)) + 1 : 0;
    RollbackNote* note;
    if (!AllocateZeroedBlock(sizeof(RollbackNote) + firstSize + secondSize + dataSize, &note)) return nullptr;
    note->kind = kind;
    note->dataSize = dataSize;
    memcpy(note->text, first, firstSize);
    if (second != nullptr) memcpy(note->text + firstSize, second, secondSize);
    note->older = newestRollbackNote;
    newestRollbackNote = note;
    return note;
}

static char* SecondText(RollbackNote* note) { return note->text + strlen(note->text) + 1; }

// A registry value's old data, behind its key and name.
static char* OldData(RollbackNote* note) {
    char* name = SecondText(note);
    return name + strlen(name) + 1;
}

void NoteCreatedFile(const char* path) { AddNote(CreatedFile, path, nullptr, 0); }

void NoteCreatedFolder(const char* path) { AddNote(CreatedFolder, path, nullptr, 0); }

// A second name for the file at `path` in `aside`, made through a handle
// whose opening also tells whether another program holds the file without
// letting it be deleted (then it cannot be replaced now either).
static PutAsideResult LinkAside(const char* path, char* aside) {
    HANDLE file = CreateFileA(path, DELETE | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION ? PutAsideLater : CannotPutAside;
    bool linked = LinkFreeName(reinterpret_cast<FileHandle>(file), aside, path, AsideExtension);
    CloseHandle(file);
    return linked ? PutAside : CannotPutAside;
}

PutAsideResult PutAsideBeforeReplacing(const char* path, u32 attributes, bool byRename) {
    if (!Noting()) return PutAside;
    char aside[PathCapacity];
    // A link shares the old contents for free, and survives the rename that
    // brings the new file (NT, where the volume has links); a file rewritten
    // in place, or one that cannot be linked, is copied.
    PutAsideResult linked = byRename && isNt ? LinkAside(path, aside) : CannotPutAside;
    if (linked == PutAsideLater) return linked;
    if (linked != PutAside && (!MakeFreeName(aside, path, AsideExtension) || !CopyFileA(path, aside, TRUE)))
        return CannotPutAside;
    RollbackNote* note = AddNote(PutAsideFile, path, aside, 0);
    if (note == nullptr) {
        DeleteFileA(aside);
        return CannotPutAside;
    }
    note->number = attributes;
    return PutAside;
}

static void DeletePutAside(RollbackNote* note) {
    if (note->kind != PutAsideFile) return;
    const char* aside = SecondText(note);
    if (note->number & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(aside, FILE_ATTRIBUTE_NORMAL);
    // A link to a file in use may have to wait for the restart.
    if (!DeleteFileA(aside)) ScheduleAtRestart(nullptr, aside);
}

void ForgetPutAside(const char* path) {
    // The newest note of `path` (a restart replacement may have come since).
    RollbackNote** link = &newestRollbackNote;
    while (RollbackNote* note = *link) {
        if (note->kind == PutAsideFile && strcmp(note->text, path) == 0) {
            DeletePutAside(note);
            *link = note->older;
            ReleaseBlock(&note);
            return;
        }
        link = &note->older;
    }
}

void NoteRestartReplacement(const char* target, const char* temporary) {
    AddNote(RestartReplacement, target, temporary, 0);
}

void NoteRegistryValue(HKEY root, const char* key, const char* name) {
    if (!Noting()) return;
    HKEY opened;
    DWORD type = NoOldValue, size = 0;
    if (RegOpenKeyExA(root, key, 0, KEY_QUERY_VALUE, &opened) == ERROR_SUCCESS) {
        if (RegQueryValueExA(opened, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) type = NoOldValue, size = 0;
        RollbackNote* note = AddNote(RegistryValue, key, name, size);
        if (note != nullptr) {
            note->root = root;
            note->number = type;
            if (size != 0) RegQueryValueExA(opened, name, nullptr, nullptr, reinterpret_cast<BYTE*>(OldData(note)), &size);
        }
        RegCloseKey(opened);
    }
}

void NoteFontAdded(const char* path) { AddNote(FontAdded, path, nullptr, 0); }

// ---------------------------------------------------------------------------
// Taking changes back

static void RemoveFile(const char* path) {
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    if (DeleteFileA(path)) LogLine("removed", path);
}

// Another program may have the file open for a moment (a shell reading a
// shortcut's target for its icon, a virus scanner): the move is tried again
// a few times before it is left for the restart.
const u32 RestoreAttempts = 10;
const DWORD RestorePause = 100;  // ms

static bool MoveBack(const char* path, const char* aside) {
    if (isNt) return MoveFileExA(aside, path, MOVEFILE_REPLACE_EXISTING) != FALSE;
    DeleteFileA(path);
    return MoveFileA(aside, path) != FALSE;
}

// The old file comes back under its name, with its attributes.
static void RestorePutAside(const char* path, const char* aside, u32 attributes) {
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    bool restored = MoveBack(path, aside);
    for (u32 attempt = 1; !restored && attempt < RestoreAttempts; attempt++) {
        Sleep(RestorePause);
        restored = MoveBack(path, aside);
    }
    DWORD error = GetLastError();
    SetFileAttributesA(path, attributes);
    if (restored) {
        LogLine("restored", path);
        return;
    }
    ScheduleAtRestart(path, aside);
    KeepTemporaryFile(aside);
    LogSystemError("restored at the restart", path, error);
}

static void RestoreRegistryValue(RollbackNote* note) {
    HKEY key;
    if (RegOpenKeyExA(note->root, note->text, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    const char* name = SecondText(note);
    if (note->number == NoOldValue)
        RegDeleteValueA(key, name);
    else
        RegSetValueExA(key, name, 0, note->number, reinterpret_cast<const BYTE*>(OldData(note)), note->dataSize);
    RegCloseKey(key);
}

static void TakeBack(RollbackNote* note) {
    char* second = SecondText(note);
    switch (note->kind) {
        case CreatedFile: RemoveFile(note->text); break;
        case CreatedFolder:
            if (RemoveDirectoryA(note->text)) LogLine("removed", note->text);
            break;
        case PutAsideFile: RestorePutAside(note->text, second, note->number); break;
        case RestartReplacement:
            CancelAtRestart(note->text, second);
            DeleteFileA(second);
            LogLine("not replaced at the restart", note->text);
            break;
        case RegistryValue: RestoreRegistryValue(note); break;
        case FontAdded:
            if (RemoveFontResourceA(note->text)) SendMessageA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0);
            break;
    }
}

// Frees every note, first letting `settle` act on each, newest first.
static void SettleChanges(void (*settle)(RollbackNote* note)) {
    while (RollbackNote* note = newestRollbackNote) {
        newestRollbackNote = note->older;
        settle(note);
        ReleaseBlock(&note);
    }
    changesSettled = true;
}

void RollBack() {
    if (newestRollbackNote == nullptr) return;
    // A folder that is the current directory cannot be removed.
    char temporary[PathCapacity];
    if (GetTempFolderPath(temporary)) SetCurrentDirectoryA(temporary);
    LogLine("undoing", "the changes of this installation");
    SettleChanges(TakeBack);
}

void KeepChanges() { SettleChanges(DeletePutAside); }
