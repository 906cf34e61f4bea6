// The setup program's program-wide state, declared here and nowhere else.
// One thread touches it; there are no locks. Each group names the part that
// owns (writes) it; the rest only read it.
//
// Two lower layers keep state of their own, because the build tool links
// them too: the loaded archive and the current install set (archive/script.h)
// and the path buffers (common/paths.h). The platform (common/platform.h) is
// shared with the uninstaller.
#pragma once
#include <windows.h>

#include "archive/catalogue.h"
#include "archive/records.h"
#include "archive/script.h"
#include "common/paths.h"
#include "common/file.h"
#include "common/platform.h"
#include "common/types.h"
#include "engine/progress.h"
#include "engine/run_options.h"

// Error states of the engine: each is also the number of the message that
// reports it, with MessagePath for its "%s".
enum EngineError : i32 {
    NoEngineError = 0,
    EngineOutOfMemory = OutOfMemoryMessage,
    InstallationDeclined = NotCompletedMessage,  // the user cancelled, or would not insert the next disk
    CannotOpenFile = CannotOpenFileMessage,
    CannotCreateFile = CannotCreateFileMessage,
    FileDataDamaged = FileDataDamagedMessage,
    CannotWriteFile = CannotWriteFileMessage,
    DiskFull = DiskFullMessage,
    CheckValueMismatch = CheckValueMismatchMessage,
    AccessDenied = AccessDeniedMessage,
    CopyFromSourceFailed = 1000,  // systemError holds the system's code
};

// FileEntry.outcome: what the engine did with an entry, by the message that
// names it.
enum EntryOutcome : u16 {
    NotInstalled = 0,
    FileReplaced = ReplacedText,
    FileNew = InstalledText,
    FileNotReplaced = NotReplacedText,
};

// Start-up (control/setup_driver.cpp): the instance, the command line's
// options, the DEL option, the screen.
extern HINSTANCE setupInstance;
extern RunOptions runOptions;
extern bool deleteSelfAtRestart;  // the DEL option: delete this copy at the next restart
extern int screenWidth, screenHeight;

// Windows (wizard/main_window.cpp, wizard/frame_dialog.cpp): the main window,
// the frame dialog, the point the frame centres on, the background brush.
extern HWND mainWindow, frameWindow;
extern POINT screenCentre;
extern HBRUSH buttonFaceBrush;

// Page loop (wizard/page_loop.cpp): the page shown, how it ended, its window
// and the frame buttons it enabled.
extern i32 currentPage;
extern i32 pageResult;
extern HWND pageWindow;
extern u32 buttonMask;

// Destination check (wizard/disk_space.cpp): a write-protected file was found.
extern bool writeProtectionFound;

// Progress page (wizard/progress_page.cpp): its window while it is open.
extern HWND progressWindow;

// Engine (engine/installation.cpp): its error state and the system's code
// behind it, the entry handled last (-1 before the first), the next one,
// whether an installation runs, and where progress goes; the temporary file
// of the entry being written while it stays open for its move into place.
extern i32 engineState;
extern u32 systemError;
extern i32 entryIndex;
extern FileEntry* nextEntry;
extern bool engineRunning;
extern const ProgressListener* progressListener;
extern FileHandle scratchFile;

// The log (engine/install_log.cpp): open while the run writes one.
extern FileHandle installLog;

// The journal of this run's temporary files (engine/leftover_journal.cpp):
// open while an installation runs, and where it lies.
extern FileHandle leftoverJournal;
extern char leftoverJournalPath[PathCapacity];

// Rollback (engine/rollback.cpp): the changes of this installation, newest
// first, while they may still be taken back; settled once they are taken
// back or kept.
struct RollbackNote;
extern RollbackNote* newestRollbackNote;
extern bool changesSettled;

// End actions, set by the engine and the pages: a restart is needed, the
// finish page's run box (initially checked), the entries to open, run and
// install as the screen saver after setup.
extern bool restartNeeded;
extern bool launchChecked;
extern FileEntry* documentEntry;
extern FileEntry* launchEntry;
extern FileEntry* screenSaverEntry;

// True when the failure is reported as its file and the system's own text:
// a failed copy, and a write that failed (the disk full among them).
inline bool ReportsSystemError() {
    return engineState == CopyFromSourceFailed ||
           ((engineState == DiskFull || engineState == CannotWriteFile) && systemError != 0);
}

// True when nobody answers questions: the QUIET and PASSIVE options.
inline bool Unattended() { return runOptions.mode != InteractiveRun; }

// Puts every variable above back as it is when the program starts (the
// platform and the lower layers' state are left alone).
void ResetSetupState();
