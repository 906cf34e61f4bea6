#include "control/setup_driver.h"

#include "archive/archive_offset.h"
#include "archive/loader.h"
#include "archive/script.h"
#include "archive/texts.h"
#include "common/deferred_operations.h"
#include "common/helpers.h"
#include "common/paths.h"
#include "common/platform.h"
#include "common/system_paths.h"
#include "common/window_texts.h"
#include "control/command_line.h"
#include "control/install_sets.h"
#include "control/relocation.h"
#include "control/unattended.h"
#include "engine/install_log.h"
#include "engine/installation.h"
#include "engine/messages.h"
#include "engine/path_macros.h"
#include "engine/setup_state.h"
#include "wizard/dialog_helpers.h"
#include "wizard/frame_dialog.h"
#include "wizard/main_window.h"
#include "wizard/page_loop.h"
#include "wizard/templates.h"

// A copy already running is brought to the front (with its open message box
// or dialog, if any); true when there was one.
static bool BringRunningCopyForward() {
    HWND running = FindWindowA(MainWindowClass, nullptr);
    if (running == nullptr) return false;
    HWND popup = GetLastActivePopup(running);
    BringWindowToTop(running);
    if (IsIconic(running)) ShowWindow(running, SW_RESTORE);
    if (popup != running) BringWindowToTop(popup);
    return true;
}

// Puts the program's own file name into `buffer` (PathCapacity characters).
static void GetOwnFileName(char* buffer) { GetOwnProgramPath(buffer); }

static void ShutDown() {
    ReleaseSetupScript();
    ReleasePathBuffers();
    ReleaseButtonFaceBrush();
    ReleaseControlFont();
    OleUninitialize();
}

bool LoadSetupScript() {
    findEarlierInstallation = FindEarlierInstallation;
    userLanguage = UserInterfaceLanguage();
    LoadFault fault = ReadSetupArchive(ArchiveOffset(), nullptr);
    if (fault == FileDataIncomplete) {
        const char* message = LookupText(MessageTexts, FileDataMissingMessage);
        if (message[0] != '\0') ShowMessage(message, ReportStyle);
    }
    return fault == LoadOk;
}

// In windowed mode the main window is sized to surround the frame exactly.
static void FitMainWindowToFrame() {
    RECT frame;
    GetWindowRect(frameWindow, &frame);
    AdjustWindowRectEx(&frame, WindowedStyle, FALSE, 0);
    SetWindowPos(mainWindow, nullptr, frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOZORDER);
    SetWindowPos(frameWindow, nullptr, 0, 0, 0, 0, SWP_NOZORDER | SWP_NOSIZE);
}

void RunWizard(bool fullScreen) {
    void* frameTemplate = CopyTemplate(fullScreen ? FullScreenFrameTemplate : WindowedFrameTemplate);
    if (frameTemplate != nullptr)
        frameWindow = CreateShownDialog(setupInstance, frameTemplate, mainWindow, FrameDialogProc, 0);
    if (frameWindow != nullptr) {
        if (!fullScreen) FitMainWindowToFrame();
        ShowWindow(mainWindow, SW_SHOWNORMAL);
        UpdateWindow(mainWindow);
        RunPageLoop();
        DestroyWindow(frameWindow);
        frameWindow = nullptr;
    }
    FreeTemplate(frameTemplate);
}

const INT_PTR RestartChosen = 1;

// Installs the screen saver the set marks, through the display settings.
static void InstallScreenSaver() {
    if (singlePageMode || screenSaverEntry == nullptr) return;
    ResolveDestination(screenSaverEntry);
    char command[WorkPathCapacity + 64];
    wsprintfA(command, "rundll32 desk.cpl,InstallScreenSaver %s", WorkPath);
    WinExec(command, SW_SHOWNORMAL);
}

// NT restarts only for a process that holds the shutdown privilege.
static void EnableShutdownPrivilege() {
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid);
    AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    CloseHandle(token);
}

// Asks whether to restart Windows now, when the installation needs it.
static void OfferRestart() {
    if (!restartNeeded) return;
    void* restartTemplate = CopyTemplate(RestartTemplate);
    if (restartTemplate == nullptr) return;
    INT_PTR answer = RunShownDialog(setupInstance, restartTemplate, mainWindow, RestartDialogProc, 0);
    FreeTemplate(restartTemplate);
    if (answer != RestartChosen || singlePageMode) return;
    RestartSystem();
}

void RestartSystem() {
    if (isNt) EnableShutdownPrivilege();
    ExitWindowsEx(EWX_REBOOT, 0);
}

// Starts the installed program by its short name, in the destination.
static void RunInstalledProgram() {
    if (singlePageMode || restartNeeded || !launchChecked || launchEntry == nullptr) return;
    ResolveDestination(launchEntry);
    RemoveTrailingBackslash(DestinationPath);
    SetCurrentDirectoryA(DestinationPath);
    DWORD length = GetShortPathNameA(WorkPath, ScratchPath, PathCapacity);
    if (length == 0 || length >= PathCapacity) return;  // not there: nothing to run
    WinExec(ScratchPath, SW_SHOWNORMAL);
}

// Destroys the main window and dispatches what is still queued, up to the
// quit message its destruction posts.
static void ReleaseMainWindow() {
    DestroyWindow(mainWindow);
    mainWindow = nullptr;
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

// The end of a run: the log's last line, and its code.
static int EndRun(int code, const char* reason) {
    CloseInstallLog(code, reason);
    ShutDown();
    return code;
}

// A run by a person: the wizard and the end actions.
static int RunInteractive() {
    RunWizard((setupScript.setupFlags & FullScreenBackground) != 0);
    AbandonInstallation();  // the wizard ended while an installation ran
    InstallScreenSaver();
    OfferRestart();
    ReleaseMainWindow();
    RunInstalledProgram();
    CloseInstallLog(SetupEnded, "the wizard ended");
    ShutDown();
    return SetupEnded;
}

// After the archive is loaded: the starting values, then the wizard or the
// installation without a person.
static int RunLoadedSetup() {
    const char* reason = ApplyStartingValues();
    if (!Unattended()) return RunInteractive();
    int code = reason != nullptr ? ExitInvalidCommandLine : RunUnattendedInstallation(&reason);
    ReleaseMainWindow();
    return EndRun(code, reason);
}

int RunSetup(HINSTANCE instance, const char* commandLine, int showCommand) {
    setupInstance = instance;
    OleInitialize(nullptr);
    CreateButtonFaceBrush();
    if (!AllocatePathBuffers()) {
        ShutDown();
        return SetupCannotRun;
    }
    GetOwnFileName(SourcePath);
    ReadCommandLine(commandLine, &runOptions);
    if (runOptions.logFile[0] != '\0') OpenInstallLog(runOptions.logFile);
    // A second copy: a person gets the running one brought forward.
    if (Unattended() ? FindWindowA(MainWindowClass, nullptr) != nullptr : BringRunningCopyForward())
        return EndRun(Unattended() ? ExitSetupRunning : SetupEnded, "another copy of this setup is running");
    if (runOptions.invalid) {
        LogLine("invalid", commandLine, "an option needs its value: /TARGET=, /INSTALLSET= or /LOG=");
        if (Unattended()) return EndRun(ExitInvalidCommandLine, "the command line is invalid");
    }
    isNt = IsNtPlatform();
    deleteSelfAtRestart = runOptions.deleteSelf;
    GetOwnFileName(WorkPath);
    if (deleteSelfAtRestart) {
        ScheduleAtRestart(nullptr, WorkPath);
    } else if (!Unattended() && IsOnRemovableDisk(WorkPath) && RelocateToTemporaryFolder(showCommand)) {
        // A run without a person stays where it is: its caller waits for it.
        ShutDown();
        return SetupEnded;
    }
    if (!RegisterMainWindowClass()) {
        ShutDown();
        return Unattended() ? ExitFailed : SetupEnded;
    }
    screenWidth = GetSystemMetrics(SM_CXSCREEN);
    screenHeight = GetSystemMetrics(SM_CYSCREEN);
    if (!LoadSetupScript() || !CreateMainWindow()) {
        return EndRun(Unattended() ? ExitFailed : SetupCannotRun, "the setup file is damaged or incomplete");
    }
    return RunLoadedSetup();
}
