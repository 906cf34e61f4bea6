// The uninstall log: what the installation put where, appended to the
// uninstall program so that it can remove it again, and the uninstall
// program's entry in the system's list of installed software.
#include "engine/uninstall_log.h"

#include <windows.h>
#include <shlobj.h>
#include <string.h>

#include "archive/script.h"
#include "archive/uninstall_log_format.h"
#include "common/file.h"
#include "common/helpers.h"
#include "common/system_paths.h"
#include "engine/install_log.h"
#include "engine/path_macros.h"
#include "engine/setup_state.h"
#include "engine/shortcuts.h"

static const char uninstallKeyPrefix[] = UNINSTALL_KEY_PREFIX;
static const char linkExtension[] = ".lnk";

// The uninstaller file while the log is written, with the place and size of
// the shortcut list, whose header is written once its first record comes.
static FileHandle uninstallLog = NoFile;
static u32 shortcutListStart;
static u32 shortcutCount;

bool PutUninstallKey(u32 set, char* key) {
    const char* name = InstallSetText(set, DisplayNameField);
    if (name[0] == '\0' || sizeof uninstallKeyPrefix + strlen(name) > UninstallKeyCapacity) return false;
    strcpy(key, uninstallKeyPrefix);
    strcat(key, name);
    return true;
}

static void WriteLogBytes(const void* data, u32 count) { WriteToFile(uninstallLog, data, count); }

static void WriteLogNumber(u32 number) { WriteLogBytes(&number, sizeof number); }

static void WriteLogHeader(u16 id, u32 length) {
    RecordHeader header = {id, 0, 0, length};
    WriteLogBytes(&header, sizeof header);
}

// A counted string: its length as 16 bits, then its bytes without terminator.
static void WriteCountedLength(u32 length) {
    u16 counted = static_cast<u16>(length);
    WriteLogBytes(&counted, sizeof counted);
}

static void WriteCountedString(const char* text, u32 length) {
    WriteCountedLength(length);
    WriteLogBytes(text, static_cast<u16>(length));
}

static void WriteCountedText(const char* text) { WriteCountedString(text, static_cast<u32>(strlen(text))); }

static u32 LogPosition() { return SeekFile(uninstallLog, 0, SeekFromCurrent); }

// The folder of a file record: "." for DestinationPath itself, ".\sub" below
// it, so the uninstaller finds the files wherever the user chose to install,
// and the absolute folder for anything else.
static void WriteRecordFolder(const char* path, u32 folderLength) {
    u32 destinationLength = static_cast<u32>(strlen(DestinationPath));
    bool inDestination = destinationLength != 0 && folderLength + 1 >= destinationLength &&
                         CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, path, destinationLength,
                                        DestinationPath, destinationLength) == CSTR_EQUAL;
    if (!inDestination) return WriteCountedString(path, folderLength);
    if (folderLength + 1 == destinationLength) return WriteCountedString(".", 1);
    u32 relativeLength = folderLength - destinationLength;
    WriteCountedLength(relativeLength + 2);
    WriteLogBytes(".\\", 2);
    WriteLogBytes(path + destinationLength, relativeLength);
}

// The file record of WorkPath: folder, name after the last backslash, flags.
static void WriteFileRecord(u8 flags) {
    const char* slash = LastBackslash(WorkPath);
    const char* name = slash != nullptr ? slash + 1 : WorkPath;
    WriteRecordFolder(WorkPath, static_cast<u32>(name - WorkPath) - (slash != nullptr ? 1 : 0));
    WriteCountedText(name);
    WriteLogBytes(&flags, sizeof flags);
}

// What the uninstaller must undo for an installed file besides deleting it.
static u8 FileRecordFlags(const FileEntry* entry) {
    u8 flags = 0;
    if (entry->destinationFolder != SetFolder && entry->sharedCount == 1) flags |= LogSharedLibrary;
    if (entry->destinationFolder == FontsFolder) flags |= LogFont;
    if (entry->registration == SelfRegistering) flags |= LogSelfRegistered;
    return flags;
}

static bool WasInstalled(const FileEntry* entry) {
    return entry->entryKind == RemovedFile && (entry->outcome == FileReplaced || entry->outcome == FileNew);
}

// WorkPath = the entry's desktop shortcut; false when it has none.
static bool PutDesktopShortcut(const FileEntry* entry) {
    const char* name = EntryString(entry, EntryDesktopName);
    if (name[0] == '\0') return false;
    bool found = GetShellFolderPath(CSIDL_DESKTOP, WorkPath);  // WorkPath holds PathCapacity and more
    if (!found || strlen(WorkPath) + strlen(name) + 1 + sizeof linkExtension > WorkPathCapacity) return false;
    AppendBackslash(WorkPath);
    strcat(WorkPath, name);
    strcat(WorkPath, linkExtension);
    return true;
}

// The file records of the current set's folders, installed files and
// desktop shortcuts, in list order; returns how many were written.
static u32 WriteFileRecords() {
    u32 count = 0;
    const FileEntry* entry = currentFirstEntry;
    for (u32 i = 0; i < currentFileCount; i++, entry = NextFileEntry(entry)) {
        ResolveDestination(entry);
        if (entry->entryKind == FolderEntry || WasInstalled(entry)) {
            WriteFileRecord(entry->entryKind == FolderEntry ? 0 : FileRecordFlags(entry));
            count++;
        }
        if (PutDesktopShortcut(entry)) {
            WriteFileRecord(0);
            count++;
        }
    }
    return count;
}

// The file list, whose header replaces the closing header the uninstaller
// file ends with (`start` is the file's size).
static void WriteFileList(u32 start) {
    WriteLogNumber(0);  // the count, known only at the end
    u32 count = WriteFileRecords();
    u32 end = LogPosition();
    SeekFile(uninstallLog, static_cast<i32>(start - sizeof(RecordHeader)), SeekFromStart);
    WriteLogHeader(LogFileListRecord, end - start);
    WriteLogNumber(count);
    SeekFile(uninstallLog, 0, SeekFromEnd);
}

// Told of each program-menu shortcut made; the list's header comes with the
// first one, so a set without any has no shortcut list.
static void RecordShortcut(const char* folder, const char* fileName) {
    if (shortcutCount == 0) {
        shortcutListStart = LogPosition();
        WriteLogHeader(LogShortcutListRecord, 0);
        WriteLogNumber(0);
    }
    WriteCountedText(folder);
    WriteCountedText(fileName);
    shortcutCount++;
}

static void CompleteShortcutList() {
    if (shortcutCount == 0) return;
    u32 end = LogPosition();
    SeekFile(uninstallLog, static_cast<i32>(shortcutListStart), SeekFromStart);
    WriteLogHeader(LogShortcutListRecord, end - shortcutListStart - sizeof(RecordHeader));
    WriteLogNumber(shortcutCount);
    SeekFile(uninstallLog, 0, SeekFromEnd);
}

// A string value stored without its terminator in the length.
static void SetTextValue(HKEY key, const char* name, const char* text) {
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), static_cast<DWORD>(strlen(text)));
}

static void SetNumberValue(HKEY key, const char* name, u32 number) {
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
}

// The values administrators and package managers read, from the set's
// Registration record: where it is installed, how to remove it without
// questions, its version, publisher, icon, links, size, and that it can
// be neither changed nor repaired. Nothing without the record.
static void WriteRegistrationValues(HKEY key) {
    const LoadedBody& body = setupScript.sets[currentSet].registration;
    if (body.data == nullptr) return;
    static const char* const textNames[RegistrationTextCount] = {"DisplayVersion", "Publisher", "DisplayIcon",
                                                                 "URLInfoAbout", "HelpLink"};
    char* value;
    if (!AllocateBlock(MacroExpansionLimit, &value)) return;
    RemoveTrailingBackslash(DestinationPath);
    SetTextValue(key, "InstallLocation", DestinationPath);
    AppendBackslash(DestinationPath);
    wsprintfA(value, "\"%s\" %s", UninstallerPath, UninstallerQuietArgument);
    SetTextValue(key, "QuietUninstallString", value);
    const char* text = reinterpret_cast<const char*>(body.data + RegistrationFixedSize);
    for (const char* name : textNames) {
        ExpandMacros(value, text, MacroExpansionLimit);
        if (value[0] != '\0') SetTextValue(key, name, value);
        text += strlen(text) + 1;
    }
    ReleaseBlock(&value);
    u32 flags = ReadU32(body.data + 4);
    SetNumberValue(key, "EstimatedSize", ReadU32(body.data));
    if (flags & RegistrationNoModify) SetNumberValue(key, "NoModify", 1);
    if (flags & RegistrationNoRepair) SetNumberValue(key, "NoRepair", 1);
}

// Enters the uninstaller in the system's list of installed software under
// the set's display name; false when the set has none. The key stays
// recorded in the log even when it cannot be created.
static bool RegisterUninstaller(char* key) {
    if (!PutUninstallKey(static_cast<u32>(currentSet), key)) return false;
    HKEY handle;
    if (RegCreateKeyA(HKEY_LOCAL_MACHINE, key, &handle) == ERROR_SUCCESS) {
        SetTextValue(handle, "DisplayName", InstallSetText(static_cast<u32>(currentSet), DisplayNameField));
        SetTextValue(handle, "UninstallString", UninstallerPath);
        WriteRegistrationValues(handle);
        RegCloseKey(handle);
        LogLine("uninstaller registered", key);
    }
    return true;
}

// Opens where the log goes, at its end: the uninstaller file, whose closing
// header the log replaces, or, when the archive asks for it, a new file
// beside the uninstaller that starts with a header for the log to replace.
// An uninstaller too short to end with that header is left alone rather
// than damaged.
static u32 OpenUninstallLog() {
    if (setupScript.uninstallLogPlace & UninstallLogBeside) {
        char path[PathCapacity];
        if (!PutUninstallLogPath(path, UninstallerPath, PathCapacity)) return 0;
        uninstallLog = CreateNewFile(path);
        if (uninstallLog == NoFile) return 0;
        WriteLogHeader(LogEndRecord, 0);
        LogLine("uninstall log beside the uninstaller", path);
        return sizeof(RecordHeader);
    }
    uninstallLog = OpenExistingFile(UninstallerPath, OpenReadWrite);
    u32 start = SeekFile(uninstallLog, 0, SeekFromEnd);
    if (uninstallLog != NoFile && (start == SeekFailed || start < sizeof(RecordHeader))) {
        CloseFile(uninstallLog);
        uninstallLog = NoFile;
    }
    return start;
}

void WriteUninstallLog() {
    AppendBackslash(DestinationPath);
    u32 start = OpenUninstallLog();
    bool logging = uninstallLog != NoFile;
    if (logging) WriteFileList(start);
    shortcutCount = 0;
    CreateProgramShortcuts(logging ? RecordShortcut : nullptr);
    if (logging) CompleteShortcutList();
    char key[UninstallKeyCapacity];
    bool registered = RegisterUninstaller(key);
    if (!logging) return;
    if (registered) {
        u32 length = static_cast<u32>(strlen(key));
        WriteLogHeader(LogUninstallKeyRecord, length + sizeof(u32) + sizeof(u16));
        WriteLogNumber(LogLocalMachineRoot);
        WriteCountedString(key, length);
    }
    WriteLogHeader(LogEndRecord, 0);
    CloseFile(uninstallLog);
    uninstallLog = NoFile;
}
