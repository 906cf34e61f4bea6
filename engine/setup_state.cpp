#include "engine/setup_state.h"

#include <string.h>

HINSTANCE setupInstance;
RunOptions runOptions;
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
FileHandle scratchFile = NoFile;

FileHandle installLog = NoFile;

FileHandle leftoverJournal = NoFile;
char leftoverJournalPath[PathCapacity];

RollbackNote* newestRollbackNote;
bool changesSettled;

bool restartNeeded;
bool launchChecked = true;
FileEntry* documentEntry;
FileEntry* launchEntry;
FileEntry* screenSaverEntry;

void ResetSetupState() {
    setupInstance = nullptr;
    memset(&runOptions, 0, sizeof runOptions);
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
    scratchFile = NoFile;
    installLog = NoFile;
    leftoverJournal = NoFile;
    leftoverJournalPath[0] = '\0';
    newestRollbackNote = nullptr;
    changesSettled = false;
    restartNeeded = false;
    launchChecked = true;
    documentEntry = launchEntry = screenSaverEntry = nullptr;
}
