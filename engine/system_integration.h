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
// Writes a shortcut file `link` to `target`; false when it cannot.
bool CreateShortcut(const char* target, const char* link, const char* arguments, u32 iconIndex);
// The program-menu shortcuts of every entry, for a set without uninstaller.
void CreateProgramShortcuts();
// Appends the uninstall log to the uninstaller at UninstallerPath (making
// the program-menu shortcuts as it logs them) and registers it.
void WriteUninstallLog();
// Records the destination where the set asks for it, then writes the set's
// INI entries, registry entries and file patches.
void WriteSetEntries();
// Runs and waits for the uninstallers of the other sets' earlier
// installations.
void RunEarlierUninstallers();
