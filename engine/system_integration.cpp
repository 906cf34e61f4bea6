// The system integration is not built yet: these are the places the
// installation calls, doing nothing until then.
#include "engine/system_integration.h"

void CountSharedLibrary(const char*) {}
void RegisterFont(const char*) {}
void SelfRegisterLibraries() {}
bool CreateShortcut(const char*, const char*, const char*, u32) { return false; }
void CreateProgramShortcuts() {}
void WriteUninstallLog() {}
void WriteSetEntries() {}
void RunEarlierUninstallers() {}
