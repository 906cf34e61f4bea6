// Entry point of the uninstall program. Like the setup program it starts
// without the compiler's start-up code and imports system libraries only.
//
// A normal start asks first, then hands over to a copy of its image in the
// temporary folder, because a running program cannot delete its own file;
// the copy removes what the original's log lists, deletes the original and
// its emptied folder, and has itself deleted at the next restart. A start
// with "/X" works in place without questions and leaves its own file to the
// setup program that waits for it.
#include <windows.h>

#include <string.h>

#include "archive/cursor.h"
#include "archive/uninstall_log_format.h"
#include "archive/uninstall_texts.h"
#include "common/deferred_operations.h"
#include "common/display_text.h"
#include "common/file.h"
#include "common/helpers.h"
#include "common/paths.h"
#include "common/platform.h"
#include "common/system_libraries.h"
#include "common/system_paths.h"
#include "common/window_texts.h"
#include "uninstall/places.h"
#include "uninstall/progress_window.h"
#include "uninstall/removal.h"
#include "uninstall/uninstall_log.h"
#include "uninstall/uninstall_start.h"

static const u32 LastCopyNumber = 998;
static const u32 CommandCapacity = 2 * PathCapacity + 16;
static const u32 TextCapacity = 1024;
// How long the copy waits for the original to end before it leaves the
// original's file to the next restart.
static const u32 OriginalEndAttempts = 50;
static const DWORD OriginalEndPause = 100;
static const u32 ExtraSteps = 2;  // folders and the uninstall key

static void ShowReport(const UninstallData& data, HWND owner, u32 text, const char* name) {
    char message[TextCapacity];
    FillText(message, TextCapacity, UninstallTextOf(data, text), name);
    ShowMessageBox(owner, message, UninstallTextOf(data, CaptionText),
                   MB_OK | (text == DamagedLogText ? MB_ICONWARNING : MB_ICONINFORMATION));
}

// The program's name, from the uninstall key of the log; empty without one.
static void ReadDisplayName(const UninstallData& data, char* name) {
    Cursor cursor = MakeCursor(data.uninstallKey, data.uninstallKeyLength);
    u32 root;
    char keyPath[ResolvedCapacity];
    name[0] = '\0';
    if (TakeU32(cursor, &root) && TakeCountedText(cursor, keyPath, ResolvedCapacity))
        CopyPath(name, DisplayNameOf(keyPath), PathCapacity);
}

// Creates the first free _uninst<n>.exe in the temporary folder; its path
// goes into `copy`.
static FileHandle CreateCopyFile(char* copy) {
    for (u32 n = 1; n <= LastCopyNumber; n++) {
        if (!GetTempFolderPath(copy) || strlen(copy) + sizeof "_uninst998.exe" > PathCapacity) return NoFile;
        wsprintfA(copy + strlen(copy), "_uninst%u.exe", n);
        if (GetFileAttributesA(copy) != INVALID_FILE_ATTRIBUTES) continue;
        FileHandle created = CreateNewFile(copy);
        if (created != NoFile) return created;
    }
    return NoFile;
}

static bool CopyImage(const char* own, u32 imageSize, FileHandle copy) {
    u8* image;
    if (!AllocateBlock(imageSize, &image)) return false;
    FileHandle source = OpenExistingFile(own, OpenRead);
    bool copied = source != NoFile && ReadExactly(source, image, imageSize) && WriteToFile(copy, image, imageSize) == WriteDone;
    CloseFile(source);
    ReleaseBlock(&image);
    return copied;
}

// Starts the copy without waiting for it: the copy waits for this program
// to end before it deletes it.
static bool StartCopy(char* command) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started;
    if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started))
        return false;
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return true;
}

// True when the copy was started and this run must end.
static bool HandOverToCopy(const char* own, u32 imageSize) {
    char copy[PathCapacity];
    FileHandle file = CreateCopyFile(copy);
    if (file == NoFile) return false;
    bool copied = CopyImage(own, imageSize, file);
    CloseFile(file);
    char command[CommandCapacity];
    FormatCopyCommand(command, copy, own);
    if (copied && StartCopy(command)) return true;
    DeleteFileA(copy);
    return false;
}

// The copy deletes the original once it has ended, and the destination
// folder when nothing is left in it.
static void RemoveOriginal(RemovalRun* run, const char* original) {
    for (u32 attempt = 0; attempt < OriginalEndAttempts && !DeleteFileA(original); attempt++) Sleep(OriginalEndPause);
    DeleteOrSchedule(run, original);
    char folder[PathCapacity];
    CopyPath(folder, DestinationFolder(), PathCapacity);
    RemoveTrailingBackslash(folder);
    RemoveDirectoryA(folder);
}

// A quiet uninstall cannot delete the running program: it and the folder
// it leaves empty go at the next restart (a folder only on NT, whose
// restart removes empty folders).
static void LeaveOwnFileForRestart(const char* own) {
    ScheduleAtRestart(nullptr, own);
    char folder[PathCapacity];
    CopyPath(folder, DestinationFolder(), PathCapacity);
    RemoveTrailingBackslash(folder);
    if (isNt) ScheduleAtRestart(nullptr, folder);
}

// The log file beside the uninstaller, when its log was read from there;
// empty otherwise. It goes once what it lists is gone.
static char logBeside[PathCapacity];

static u32 Uninstall(const UninstallData& data, StartMode mode, const char* original) {
    RemovalRun run = {};
    run.data = &data;
    run.silent = mode == SilentStart || mode == QuietStart;
    u32 steps = RecordCount(data.fileList, data.fileListLength) +
                RecordCount(data.shortcutList, data.shortcutListLength) +
                RecordCount(data.settings, data.settingsLength) + ExtraSteps;
    // A quiet uninstall, like a quiet setup, shows no window at all.
    if (mode != QuietStart)
        run.window = OpenProgressWindow(GetModuleHandleA(nullptr), UninstallTextOf(data, CaptionText), steps);
    RemoveLoggedItems(&run);
    if (logBeside[0] != '\0') DeleteOrSchedule(&run, logBeside);
    if (mode == RelocatedStart) RemoveOriginal(&run, original);
    if (mode == QuietStart) LeaveOwnFileForRestart(original);
    if (!run.silent) {
        char name[PathCapacity];
        ReadDisplayName(data, name);
        ShowReport(data, run.window, run.leftForRestart ? RestartText : DoneText, name);
    }
    CloseProgressWindow(run.window);
    return run.leftForRestart ? UninstallLeftForRestart : UninstallDone;
}

// Asks, then hands over to the copy; works in place (its own file left for
// the restart) only when no copy can be started.
static u32 StartNormally(const UninstallData& data, const char* own) {
    char name[PathCapacity];
    ReadDisplayName(data, name);
    char question[TextCapacity];
    FillText(question, TextCapacity, UninstallTextOf(data, ConfirmText), name);
    if (ShowMessageBox(nullptr, question, UninstallTextOf(data, CaptionText), MB_YESNO | MB_ICONQUESTION) != IDYES)
        return UninstallCancelled;
    if (HandOverToCopy(own, data.imageSize)) return UninstallDone;
    ScheduleAtRestart(nullptr, own);
    return Uninstall(data, NormalStart, own);
}

static u32 RunUninstall() {
    isNt = IsNtPlatform();
    char own[PathCapacity];
    char original[PathCapacity];
    if (!GetOwnProgramPath(own)) return UninstallNoLog;
    StartMode mode = ReadStartMode(GetCommandLineA(), original, PathCapacity);
    // The copy is deleted at the next restart, whatever happens next.
    if (mode == RelocatedStart) ScheduleAtRestart(nullptr, own);
    const char* logFile = mode == RelocatedStart ? original : own;
    UninstallData data;
    if (!LoadUninstallData(logFile, &data, UserInterfaceLanguage())) return UninstallNoLog;
    displayCodePage = data.textsCodePage;
    if (data.logBytes != nullptr) PutUninstallLogPath(logBeside, logFile, PathCapacity);
    // The uninstaller lies in the destination folder: that is its own folder.
    char destination[PathCapacity];
    CopyPath(destination, logFile, PathCapacity);
    char* lastBackslash = LastBackslash(destination);
    if (lastBackslash != nullptr) lastBackslash[1] = '\0';
    InitPlaces(destination);
    // Macros in the settings list expand as they did for setup.
    static char noSource[1];
    DestinationPath = destination;
    SourcePath = noSource;
    u32 result;
    // The whole log was read and checked before anything is touched: a
    // damaged one is refused as a whole, as is a file without one.
    if (data.damaged || data.fileList == nullptr) {
        if (mode != SilentStart && mode != QuietStart)
            ShowReport(data, nullptr, data.damaged ? DamagedLogText : NoLogText, "");
        result = data.damaged ? UninstallDamagedLog : UninstallNoLog;
    } else if (mode == NormalStart) {
        result = StartNormally(data, own);
    } else {
        result = Uninstall(data, mode, mode == QuietStart ? own : original);
    }
    ReleaseUninstallData(&data);
    return result;
}

extern "C" void UninstallEntry() {
    RestrictLibrarySearch();
    ExitProcess(RunUninstall());
}
