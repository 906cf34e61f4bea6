#include "control/setup_state.h"

HINSTANCE setupInstance;
bool isNt;
bool deleteSelfAtRestart;
HWND mainWindow;
HWND frameWindow;
int screenWidth;
int screenHeight;
bool restartNeeded;
bool launchChecked = true;
FileEntry* documentEntry;
FileEntry* launchEntry;
FileEntry* screenSaverEntry;
