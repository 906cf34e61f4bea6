// What the installation does beyond files: shared-library counts, fonts,
// self-registration, shortcuts, the uninstall log and registration, the
// set's registry, INI and patch entries, and earlier installations.
#pragma once
#include "common/types.h"

// Counts the file at `path` once more among the shared libraries.
void CountSharedLibrary(const char* path);
// Makes the font file at `path` known to the system.
void RegisterFont(const char* path);
// Calls the registration entry of every self-registering library of the set.
void SelfRegisterLibraries();
// Writes a shortcut file `link` to `target`, working in the target's folder,
// with `arguments` (may be null) and, unless iconIndex is 0, the target's
// icon number iconIndex. False when it cannot; callers go on regardless.
bool CreateShortcut(const char* target, const char* link, const char* arguments, u32 iconIndex);
// Told of every program-menu shortcut written: its folder (no trailing
// backslash) and its file name with ".lnk". The uninstall log keeps these.
typedef void (*ShortcutRecorder)(const char* folder, const char* fileName);
// The program-menu shortcuts of every entry of the current set, each folder
// reported to `recorder` when one is given. Leaves the process in the folder
// of the last shortcut made.
void CreateProgramShortcuts(ShortcutRecorder recorder = nullptr);
// Appends the uninstall log to the uninstaller at UninstallerPath (making
// the program-menu shortcuts as it logs them) and registers it.
void WriteUninstallLog();
// Records the destination where the set asks for it, then writes the set's
// INI entries, registry entries and file patches.
void WriteSetEntries();
// Runs and waits for the uninstallers of the other sets' earlier
// installations.
void RunEarlierUninstallers();
