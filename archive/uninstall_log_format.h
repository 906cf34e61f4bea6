// Layout of the uninstall log that setup appends to the uninstall program,
// shared by the setup program that writes it and the uninstall program that
// reads it back from its own file.
//
// The uninstall program as extracted ends with an 8-byte closing header
// (RecordHeader id 0x7F7F). Setup overwrites those 8 bytes with the header of
// the file list and appends:
//
//   +-----------------------------+
//   | RecordHeader 0x1235 | body  |  u32 count, then count file records
//   | RecordHeader 0x1236 | body  |  u32 count, then count shortcut records
//   |                             |  (only when the set made menu shortcuts)
//   | RecordHeader 0x1238 | body  |  u32 root key, counted key path
//   |                             |  (only when the set has a display name)
//   | RecordHeader 0x7F7F         |  end of the log, length 0
//   +-----------------------------+
//
// Headers have flags 0 (bodies are never compressed). All integers are
// little-endian and unaligned.
//
// When the archive has an UninstallLogPlace record with UninstallLogBeside
// (archive/records.h), the uninstaller is left untouched (it may be signed,
// and anything appended would break its signature): setup writes the same
// records, from the file list to the closing header, to a file of their own
// beside it, named as the uninstaller with ".dat" for its extension
// (UNINST.EXE -> UNINST.DAT). The uninstaller reads its texts and settings
// from its own file and the log from that file when it is there, and deletes
// it with the rest.
//
// Counted string: u16 byte length, then that many bytes, no terminator.
//
// File record: counted folder, counted name, u8 LogFileFlags.
//   folder "."          the file lies directly in the destination folder
//   folder ".\sub\dir"  it lies below the destination folder
//   folder "C:\WINDOWS" any other folder, absolute, no trailing backslash
// A folder entry's record has its parent as folder and its own name as name
// (".", "Data"); a folder entry whose name ends in a backslash would have
// the folder itself and an empty name. Records keep the order of the set's
// file list, each entry's desktop shortcut (flags 0) right after it.
//
// Shortcut record: counted folder (absolute, no trailing backslash),
// counted name (the link's file name with ".lnk").
#pragma once
#include <string.h>

#include "common/helpers.h"
#include "common/types.h"

enum UninstallLogRecordId : u16 {
    LogFileListRecord = 0x1235,
    LogShortcutListRecord = 0x1236,
    LogUninstallKeyRecord = 0x1238,
    LogEndRecord = 0x7F7F,
};

// Flags byte of a file record.
const u8 LogSharedLibrary = 0x01;   // decrease its SharedDLLs count
const u8 LogFont = 0x02;            // remove it from the system's fonts
const u8 LogSelfRegistered = 0x04;  // call its DllUnregisterServer

// Root of the uninstall key in the 0x1238 record: HKEY_LOCAL_MACHINE.
const u32 LogLocalMachineRoot = 0x80000002u;

// The folder name that stands for the destination folder in file records.
const char LogDestinationFolder = '.';

// Where the uninstall key lives under the root; the set's display name follows.
#define UNINSTALL_KEY_PREFIX "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"

// The arguments that start an uninstaller without questions, in place, for
// its caller to wait on; each ends the command line. Setup gives "/X" to
// earlier installations' uninstallers and deletes them afterwards itself;
// "/Q", the registered quiet uninstall command, also leaves the
// uninstaller's own file and folder to the next restart.
constexpr char UninstallerSilentArgument[] = "/X";
constexpr char UninstallerQuietArgument[] = "/Q";

// The log file beside the uninstaller at `uninstaller`: its extension
// replaced by ".dat", or ".dat" added to a name without one. False when the
// result does not fit in `capacity` bytes. A '.' is never the second byte of
// a double-byte character, so the last one in the name is the extension's.
static inline bool PutUninstallLogPath(char* path, const char* uninstaller, u32 capacity) {
    static const char extension[] = ".dat";
    const char* slash = LastBackslash(uninstaller);
    const char* name = slash != nullptr ? slash + 1 : uninstaller;
    const char* dot = strrchr(name, '.');
    u32 stem = static_cast<u32>((dot != nullptr ? dot : name + strlen(name)) - uninstaller);
    if (stem + sizeof extension > capacity) return false;
    memcpy(path, uninstaller, stem);
    memcpy(path + stem, extension, sizeof extension);
    return true;
}

// The uninstall program's exit codes, in the family administrators know
// from MSI (and from setup's runs without a person); setup reads them when
// it removes an earlier installation.
enum UninstallExit : u32 {
    UninstallDone = 0,               // everything listed is gone (or handed over to the copy)
    UninstallLeftForRestart = 3010,  // some files in use go at the next restart
    UninstallCancelled = 1602,       // the user answered No: nothing was removed
    UninstallNoLog = 1603,           // the file holds no uninstall log: nothing to remove
    UninstallDamagedLog = 1610,      // the log is damaged (MSI's "configuration data is corrupt"):
                                     // nothing was removed
};
