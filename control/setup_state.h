// Program-wide state of a setup run that the start-up, the wizard, the
// engine and the end actions share. One thread touches it; there are no locks.
#pragma once
#include <windows.h>

#include "archive/records.h"
#include "common/types.h"

extern HINSTANCE setupInstance;
// True on the NT platform; chooses the restart and deferred-file mechanisms.
extern bool isNt;
// Set by the DEL option: this copy deletes its own file at the next restart.
extern bool deleteSelfAtRestart;

extern HWND mainWindow;
extern HWND frameWindow;
extern int screenWidth;
extern int screenHeight;

// End-action inputs, set by the engine and the pages.
extern bool restartNeeded;
extern bool launchChecked;  // the finish page's check box, initially set
extern FileEntry* documentEntry;
extern FileEntry* launchEntry;
extern FileEntry* screenSaverEntry;
