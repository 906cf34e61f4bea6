#include "engine/installation.h"

#include <shlobj.h>
#include <string.h>

#include "archive/check_value.h"
#include "archive/file_data.h"
#include "archive/script.h"
#include "archive/texts.h"
#include "common/file.h"
#include "common/helpers.h"
#include "common/paths.h"
#include "common/system_paths.h"
#include "engine/extraction.h"
#include "engine/folders.h"
#include "engine/install_log.h"
#include "engine/leftover_journal.h"
#include "engine/messages.h"
#include "engine/path_macros.h"
#include "engine/progress.h"
#include "engine/rollback.h"
#include "engine/running_programs.h"
#include "engine/set_entries.h"
#include "engine/setup_state.h"
#include "engine/shared_files.h"
#include "engine/shortcuts.h"
#include "engine/uninstall_log.h"

const char ShortcutExtension[] = ".lnk";

static void ForgetAfterSetupEntries() { documentEntry = launchEntry = screenSaverEntry = nullptr; }

bool AskForVolume(u32 volume) {
    char text[MessageCapacity];
    if (Unattended()) {
        // Nobody can insert it: a failure of the installation, not a cancel.
        wsprintfA(text, "disk %lu", static_cast<unsigned long>(volume + 1));
        LogLine("failed", text, "it is not there");
        progressListener->cancel();
        engineState = CannotOpenFile;
        ForgetAfterSetupEntries();
        return false;
    }
    FormatTextWithNumber(text, LookupText(MessageTexts, InsertDiskMessage), volume + 1);
    if (ShowMessage(text, MB_OKCANCEL | MB_ICONINFORMATION) == IDOK) return true;
    FormatMessageText(text, ReallyStopQuestion);
    if (ShowMessage(text, QuestionStyle) != IDYES) return true;
    progressListener->cancel();
    engineState = InstallationDeclined;
    ForgetAfterSetupEntries();
    return false;
}

bool StartInstallation() {
    engineState = NoEngineError;
    entryIndex = -1;
    nextEntry = currentFirstEntry;
    if (setupScript.setupFlags & RemoveEarlierInstallations) RunEarlierUninstallers();
    // Only a copy started from a removable disk may ask for the next disk.
    askForVolume = AskForVolume;
    if (OpenFileData(deleteSelfAtRestart) != FileDataReady) {
        engineState = CannotOpenFile;  // MessagePath names the setup file
        return false;
    }
    OpenLeftoverJournal();
    engineRunning = true;
    return true;
}

// True when the file at WorkPath already holds the entry's contents.
static bool HoldsSameContents(const FileEntry* entry) {
    FileHandle file = OpenExistingFile(WorkPath, OpenRead);
    if (file == NoFile) return false;
    u32 check = 0;
    bool same = FileSize(file) == entry->size && CheckFile(file, &check) && check == entry->checkValue;
    CloseFile(file);
    return same;
}

// Writes the entry's contents into place; false with engineState set.
static bool WriteEntry(FileEntry* entry, bool inUse, u32 startPercent, u32 endPercent) {
    bool install = true;
    if (inUse && HoldsSameContents(entry))
        install = false;
    else if (entry->entryFlags & HasVersionBlock)
        install = CheckVersionRules(entry);
    engineState = NoEngineError;
    systemError = 0;
    if (!install) {
        if (inUse) LogLine("kept", WorkPath, "the same file is there, in use");
        return true;
    }
    CreateFolderPath(WorkPath);
    if (!ProduceEntryContents(entry, startPercent, endPercent)) return false;
    if (inUse) {
        CloseScratchFile();
        ReplaceAtRestart(ScratchPath);
        ScratchPath[0] = '\0';  // the restart owns the temporary file now
    } else {
        ReplaceDestination(entry, ScratchPath);
        ScratchPath[0] = '\0';
    }
    // A file that could not be put aside has its own failure already.
    if (entry->outcome == FileNotReplaced && engineState == NoEngineError) {
        engineState = AccessDenied;
        SetMessagePath(WorkPath);
    }
    return engineState == NoEngineError;
}

// Shared counts, fonts and the screen saver: also for a file that was
// already there and so not written.
static void RegisterFile(const FileEntry* entry) {
    if (entry->destinationFolder != SetFolder && entry->sharedCount == 1) CountSharedLibrary(WorkPath);
    if (entry->destinationFolder == FontsFolder) RegisterFont(WorkPath);
    if (entry->registration == ScreenSaver) screenSaverEntry = const_cast<FileEntry*>(entry);
}

static void TakeAfterSetupRole(FileEntry* entry) {
    if (entry->afterSetupRole == OpenedDocument) documentEntry = entry;
    if (entry->afterSetupRole == LaunchedProgram) launchEntry = entry;
}

static void CreateDesktopShortcut(const FileEntry* entry) {
    const char* name = EntryString(entry, EntryDesktopName);
    if (name[0] == '\0') return;
    char link[WorkPathCapacity];
    if (!GetShellFolderPath(CSIDL_DESKTOP, link)) return;
    AppendBackslash(link);
    u32 length = static_cast<u32>(strlen(link));
    if (length + strlen(name) + sizeof ShortcutExtension > sizeof link) return;
    wsprintfA(link + length, "%s%s", name, ShortcutExtension);
    // The shortcut is rewritten in place: an old one is copied aside first.
    DWORD attributes = GetFileAttributesA(link);
    bool existed = attributes != INVALID_FILE_ATTRIBUTES;
    if (existed && PutAsideBeforeReplacing(link, attributes, false) != PutAside) return;
    if (CreateShortcut(WorkPath, link, EntryString(entry, EntryDesktopArguments), 0) && !existed) NoteCreatedFile(link);
}

// The log's line for an entry that failed: the message the user would read.
static void LogFailure() {
    if (installLog == NoFile) return;
    char text[MessageCapacity];
    if (ReportsSystemError()) {
        LogSystemError("failed", WorkPath, systemError);
        return;
    }
    FormatMessageText(text, static_cast<u32>(engineState));
    LogShownText("failed", WorkPath, text);
}

static u32 PercentAfter(i32 entries, u32 count) {
    return count != 0 ? static_cast<u32>(entries) * 100 / count : 0;
}

bool InstallNextEntry() {
    u32 count = currentFileCount;
    u32 startPercent = PercentAfter(entryIndex + 1, count);
    if (static_cast<u32>(++entryIndex) >= count) return false;
    FileEntry* entry = nextEntry;
    nextEntry = NextFileEntry(entry);
    entry->outcome = NotInstalled;
    ScratchPath[0] = '\0';
    bool inUse = ResolveDestination(entry);
    ShowProgressItem(WorkPath);
    if (entry->entryFlags & UninstallerEntry) CopyPath(UninstallerPath, WorkPath, PathCapacity);
    u32 endPercent = PercentAfter(entryIndex + 1, count);
    bool done = true;
    if (entry->entryKind == FolderEntry) {
        CreateFolderPath(WorkPath);
    } else if (entry->entryKind != SetupFolderFile) {
        done = WriteEntry(entry, inUse, startPercent, endPercent);
        if (!done) LogFailure();
        if (done) {
            if (entry->entryFlags & UninstallerEntry) entry->outcome = NotInstalled;  // never logged as a file
            RegisterFile(entry);
        }
    }
    if (done) {
        TakeAfterSetupRole(entry);
        CreateDesktopShortcut(entry);
        ShowProgressPercent(endPercent);
    } else if (ScratchPath[0] != '\0') {
        CloseScratchFile();
        DeleteFileA(ScratchPath);  // no half-written file is left behind
        ScratchPath[0] = '\0';
    }
    return done;
}

// Ends the run: after success writes what follows the entries and keeps
// the changes, after a failure or a cancel takes them back.
static void EndInstallation() {
    CloseFileData();
    if (engineState == NoEngineError) {
        KeepChanges();
        if (UninstallerPath[0] != '\0')
            WriteUninstallLog();
        else
            CreateProgramShortcuts();
        RemoveTrailingBackslash(DestinationPath);
        WriteSetEntries();
        AppendBackslash(DestinationPath);
        SelfRegisterLibraries();
    } else {
        RollBack();
    }
    CloseLeftoverJournal();
    engineRunning = false;
}

void FinishInstallation() {
    EndInstallation();
    progressListener->finished();
}

void AbandonInstallation() {
    if (!engineRunning) return;
    engineState = InstallationDeclined;
    ForgetAfterSetupEntries();
    EndInstallation();
}
