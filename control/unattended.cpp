#include "control/unattended.h"

#include <windows.h>

#include "archive/script.h"
#include "archive/texts.h"
#include "common/helpers.h"
#include "common/paths.h"
#include "control/setup_driver.h"
#include "engine/folders.h"
#include "engine/install_log.h"
#include "engine/installation.h"
#include "engine/messages.h"
#include "engine/setup_state.h"
#include "wizard/disk_space.h"
#include "wizard/page_loop.h"
#include "wizard/progress.h"

static bool IsNumber(const char* text) {
    if (*text == '\0') return false;
    for (; *text != '\0'; text++)
        if (*text < '0' || *text > '9') return false;
    return true;
}

// The set INSTALLSET names: its number as kelvo list counts them (from 0),
// or its display name in any case; -1 when there is none.
static i32 FindNamedSet(const char* name) {
    u32 count = setupScript.setCount;
    if (IsNumber(name)) {
        u32 number = 0;
        for (const char* digit = name; *digit != '\0' && number <= MaxInstallSets; digit++)
            number = number * 10 + static_cast<u32>(*digit - '0');
        return number < count ? static_cast<i32>(number) : -1;
    }
    for (u32 set = 0; set < count; set++)
        if (lstrcmpiA(InstallSetText(set, DisplayNameField), name) == 0) return static_cast<i32>(set);
    return -1;
}

// A folder named from its root: "C:\..." or a network path "\\server\...".
static bool IsAbsoluteFolder(const char* path) {
    return (path[0] != '\0' && path[1] == ':' && path[2] == '\\') || (path[0] == '\\' && path[1] == '\\');
}

// Tells a person at the screen what could not be used (message `n`, with
// `subject` for its "%s"); a run without a person logs it instead.
static const char* RefuseValue(u32 n, const char* subject, const char* reason) {
    LogLine("invalid", subject, reason);
    if (Unattended()) return reason;
    char text[MessageCapacity];
    FormatTextWithPath(text, LookupText(MessageTexts, n), subject);
    if (text[0] != '\0') ShowMessage(text, ReportStyle);
    return reason;
}

const char* ApplyStartingValues() {
    const char* refused = nullptr;
    if (runOptions.installSet[0] != '\0') {
        i32 set = FindNamedSet(runOptions.installSet);
        if (set < 0)
            refused = RefuseValue(UnknownSetMessage, runOptions.installSet, "the setup has no such install set");
        else
            SelectInstallSet(static_cast<u32>(set));
    }
    if (runOptions.target[0] != '\0') {
        if (!IsAbsoluteFolder(runOptions.target))
            refused = RefuseValue(InvalidFolderMessage, runOptions.target, "the folder is not a full path");
        else
            CopyPath(DestinationPath, runOptions.target, PathCapacity);
    }
    return refused;
}

// Enters the destination, creating it as the wizard would after Yes, and
// checks the room and access the installation needs.
static int PrepareDestination(const char** reason) {
    RemoveTrailingBackslash(DestinationPath);
    if (!IsAbsoluteFolder(DestinationPath)) {
        *reason = "the destination is not a full path";
        return ExitInvalidCommandLine;
    }
    AppendBackslash(DestinationPath);
    CreateFolderPath(DestinationPath);
    RemoveTrailingBackslash(DestinationPath);
    bool entered = SetCurrentDirectoryA(DestinationPath) != FALSE;
    AppendBackslash(DestinationPath);
    if (!entered) {
        *reason = "the destination folder cannot be created";
        return ExitInvalidCommandLine;
    }
    LogLine("destination", DestinationPath);
    DiskCheck check = CheckDiskSpace();
    if (check == NotEnoughSpace) {
        *reason = "there is not enough free space on the drive";
        return ExitNotEnoughSpace;
    }
    // A file in use now is the engine's to try again and leave for the
    // restart; the wizard would only have reported it.
    if (check == FileNotAccessible) LogLine("in use", MessagePath, "it is tried again when its turn comes");
    return ExitSuccess;
}

// QUIET: the engine's steps back to back, with no window at all.
static void InstallWithoutWindows() {
    SetProgressPage(nullptr);
    if (!StartInstallation()) return;
    while (InstallNextEntry()) {
    }
    FinishInstallation();
}

// PASSIVE: the progress page alone, in the windowed frame; it ends by
// itself when the installation does. Cancel ends it at once.
static void InstallWithProgressWindow() {
    fixedPageNumber = ProgressPage;
    RunWizard(false);
    AbandonInstallation();  // the window was closed before the installation ended
}

// The code for how the installation ended, its restart included.
static int InstallationExitCode(const char** reason) {
    if (engineState == InstallationDeclined) {
        *reason = "the installation was cancelled";
        return ExitCancelled;
    }
    if (engineState == DiskFull) {
        *reason = "the disk is full";
        return ExitNotEnoughSpace;
    }
    if (engineState != NoEngineError) {
        *reason = "the installation failed";
        return ExitFailed;
    }
    if (!restartNeeded) {
        *reason = "installed";
        return ExitSuccess;
    }
    if (runOptions.noRestart) {
        *reason = "installed; a restart completes the installation";
        return ExitRestartNeeded;
    }
    *reason = "installed; setup restarts the system to complete the installation";
    return ExitRestartStarted;
}

int RunUnattendedInstallation(const char** reason) {
    int code = PrepareDestination(reason);
    if (code != ExitSuccess) return code;
    if (runOptions.mode == PassiveRun)
        InstallWithProgressWindow();
    else
        InstallWithoutWindows();
    code = InstallationExitCode(reason);
    if (code == ExitRestartStarted) RestartSystem();
    return code;
}
