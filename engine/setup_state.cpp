#include "engine/setup_state.h"

HINSTANCE setupInstance;
bool deleteSelfAtRestart;
int screenWidth, screenHeight;

HWND mainWindow, frameWindow;
POINT screenCentre;
HBRUSH buttonFaceBrush;

i32 currentPage;
i32 pageResult;
HWND pageWindow;
u32 buttonMask;

bool writeProtectionFound;

HWND progressWindow;

i32 engineState;
u32 systemError;
i32 entryIndex = -1;
FileEntry* nextEntry;
bool engineRunning;
const ProgressListener* progressListener;

bool restartNeeded;
bool launchChecked = true;
FileEntry* documentEntry;
FileEntry* launchEntry;
FileEntry* screenSaverEntry;

void ResetSetupState() {
    setupInstance = nullptr;
    deleteSelfAtRestart = false;
    screenWidth = screenHeight = 0;
    mainWindow = frameWindow = nullptr;
    screenCentre = POINT{0, 0};
    buttonFaceBrush = nullptr;
    currentPage = 0;
    pageResult = 0;
    pageWindow = nullptr;
    buttonMask = 0;
    writeProtectionFound = false;
    progressWindow = nullptr;
    engineState = NoEngineError;
    systemError = 0;
    entryIndex = -1;
    nextEntry = nullptr;
    engineRunning = false;
    progressListener = nullptr;
    restartNeeded = false;
    launchChecked = true;
    documentEntry = launchEntry = screenSaverEntry = nullptr;
}
