// Starting programs, and removing the earlier installations of the other
// install sets through the uninstallers that their setups registered.
#include "engine/running_programs.h"

#include <string.h>

#include "archive/script.h"
#include "archive/uninstall_log_format.h"
#include "common/file.h"
#include "common/helpers.h"

#include "engine/uninstall_log.h"

const u32 CommandLineCapacity = 520;
const u32 UninstallStringCapacity = 360;
const DWORD DeleteRetryMilliseconds = 3000;
// How long one wait lasts before the queue is peeked again; messages sent to
// our windows (a broadcast from the uninstaller) end a wait at once.
const DWORD PollMilliseconds = 50;

bool RunProgram(const char* program, const char* arguments, HANDLE* process) {
    *process = nullptr;
    char* commandLine;
    // Quotes and a blank besides the two texts.
    if (strlen(program) + strlen(arguments) + 4 > CommandLineCapacity ||
        !AllocateBlock(CommandLineCapacity, &commandLine))
        return false;
    // Quoted, so that a path with blanks cannot start another program that
    // lies at its first blank (C:\Program.exe for C:\Program Files\...).
    wsprintfA(commandLine, "\"%s\" %s", program, arguments);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started;
    bool ok = CreateProcessA(nullptr, commandLine, nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS, nullptr, nullptr,
                             &startup, &started) != FALSE;
    ReleaseBlock(&commandLine);
    if (!ok) return false;
    CloseHandle(started.hThread);
    *process = started.hProcess;
    return true;
}

// Told by the process object itself, so a program whose exit code happens to
// be STILL_ACTIVE (259) is not taken for running for ever.
bool IsStillRunning(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }

// Lets messages sent to our windows through, so a program that broadcasts
// to all windows does not wait on us, and removes nothing from the queue.
static void PeekAtQueue() {
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
}

// Waits until `process` ends or a message is sent to us, whichever is first,
// at most PollMilliseconds; with no process, just that long.
static void WaitBriefly(HANDLE* process) {
    MsgWaitForMultipleObjects(process != nullptr ? 1 : 0, process, FALSE, PollMilliseconds, QS_SENDMESSAGE);
}

// An install set's earlier installation can be removed when the set carries
// an uninstaller entry (wherever in its list) and a display name.
static bool HasUninstaller(u32 set) {
    for (u32 i = 0;; i++) {
        const FileEntry* entry = FileEntryAt(set, i);
        if (entry == nullptr) return false;
        if (entry->entryFlags & UninstallerEntry) return true;
    }
}

// The registered uninstaller of `set` into `path` (UninstallStringCapacity
// bytes, always terminated); false when none is registered.
static bool FindRegisteredUninstaller(u32 set, char* path) {
    char key[UninstallKeyCapacity];
    HKEY handle;
    if (!PutUninstallKey(set, key) || RegOpenKeyA(HKEY_LOCAL_MACHINE, key, &handle) != ERROR_SUCCESS) return false;
    memset(path, 0, UninstallStringCapacity);
    DWORD size = UninstallStringCapacity - 1;
    bool found = RegQueryValueExA(handle, "UninstallString", nullptr, nullptr, reinterpret_cast<BYTE*>(path),
                                  &size) == ERROR_SUCCESS;
    RegCloseKey(handle);
    return found;
}

static bool FileExists(const char* path) {
    FileHandle file = OpenExistingFile(path, OpenRead);
    if (file == NoFile) return false;
    CloseFile(file);
    return true;
}

// Runs the uninstaller at `path` with "/X", waits for it, and deletes its
// file, trying for a while since the system may hold it briefly after the
// process has ended. An uninstaller that refused its damaged log removed
// nothing: it stays, with the product it is registered for.
static void RunUninstaller(const char* path) {
    HANDLE process;
    if (!RunProgram(path, UninstallerSilentArgument, &process)) return;
    while (IsStillRunning(process)) {
        PeekAtQueue();
        WaitBriefly(&process);
    }
    DWORD exitCode = 0;
    bool refused = GetExitCodeProcess(process, &exitCode) && exitCode == UninstallDamagedLog;
    CloseHandle(process);
    if (refused) return;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < DeleteRetryMilliseconds) {
        PeekAtQueue();
        if (DeleteFileA(path)) return;
        WaitBriefly(nullptr);
    }
}

void RunEarlierUninstallers() {
    char path[UninstallStringCapacity];
    for (u32 set = 0; set < setupScript.setCount; set++) {
        if (static_cast<i32>(set) == currentSet || !HasUninstaller(set)) continue;
        if (FindRegisteredUninstaller(set, path) && FileExists(path)) RunUninstaller(path);
    }
}
