// One file entry, from its contents to its place: the version and language
// questions, the temporary file beside the destination (decoded, copied from
// beside the setup, built by a delta, or the uninstaller's prefix and data),
// its check value, and the replacement of the old file.
#include "engine/extraction.h"

#include <windows.h>

#include <string.h>

#include "archive/check_value.h"
#include "archive/delta_reader.h"
#include "archive/file_data.h"
#include "archive/script.h"
#include "archive/solid_data.h"
#include "archive/texts.h"
#include "common/deferred_operations.h"
#include "common/file.h"
#include "common/helpers.h"
#include "common/paths.h"
#include "common/platform.h"
#include "common/system_libraries.h"
#include "engine/install_log.h"
#include "engine/leftover_journal.h"
#include "engine/messages.h"
#include "engine/progress.h"
#include "engine/rollback.h"
#include "engine/setup_state.h"

const char ProducedExtension[] = ".$$A";
const char DeltaExtension[] = ".$AA";
void (*showDeltaProgress)(u32 percent) = ShowProgressPercent;

// Questions about an existing file: Yes/No, question icon, No as the default button.
const u32 KeepFileQuestionStyle = MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2;

// Delta progress moves in steps of this many output bytes.
const u32 DeltaProgressStep = 10000;

// ---------------------------------------------------------------------------
// Shared steps

// Records a failure of the entry; `path` (when given) is the file its message names.
static bool Fail(i32 state, const char* path) {
    engineState = state;
    if (path != nullptr) SetMessagePath(path);
    return false;
}

// A failed write of an entry's contents: 20 when the disk is full, else 19;
// both name the destination and keep the system's code for the report.
static bool WriteFailure(WriteResult result, u32 error) {
    // A write the system cut short, without an error, met a full disk.
    systemError = result == WriteShort ? ERROR_DISK_FULL : error;
    bool full = systemError == ERROR_DISK_FULL || systemError == ERROR_HANDLE_DISK_FULL;
    return Fail(full ? DiskFull : CannotWriteFile, WorkPath);
}

// A write to a file the engine produces.
static bool WriteProduced(FileHandle file, const void* data, u32 count) {
    WriteResult result = WriteToFile(file, data, count);
    return result == WriteDone || WriteFailure(result, LastFileError());
}

static bool FileExists(const char* path) {
    FileHandle file = OpenExistingFile(path, OpenRead);
    CloseFile(file);
    return file != NoFile;
}

// Where the extension of the file name in `path` starts: its last '.' after
// the last backslash, or the end of the path.
static u32 ExtensionStart(const char* path) {
    const char* slash = LastBackslash(path);
    const char* dot = strrchr(slash != nullptr ? slash : path, '.');
    return static_cast<u32>(dot != nullptr ? dot - path : strlen(path));
}

void SetExtension(char* path, const char* extension) { strcpy(path + ExtensionStart(path), extension); }

// Starts a free name: `name` (PathCapacity bytes) = `from` with
// `extension`. Returns its last character, which the search counts up as a
// byte while the name is taken; null when the name does not fit (`name`
// then holds `from` cut to fit).
static u8* StartFreeName(char* name, const char* from, const char* extension) {
    CopyPath(name, from, PathCapacity);
    u32 end = ExtensionStart(from) + static_cast<u32>(strlen(extension));
    if (end >= PathCapacity) return nullptr;
    SetExtension(name, extension);
    return reinterpret_cast<u8*>(name + end - 1);
}

bool MakeFreeName(char* name, const char* from, const char* extension) {
    u8* last = StartFreeName(name, from, extension);
    if (last == nullptr) return false;
    while (FileExists(name)) {
        if (*last == 0xFF) return false;
        ++*last;
    }
    NoteTemporaryFile(name);
    return true;
}

// Access to the temporary file of a decoded entry: written, read back for
// its check and, on NT, renamed into place through the same handle (Windows
// 98 knows neither DELETE access nor a rename by handle).
static DWORD ScratchFileAccess() { return GENERIC_READ | GENERIC_WRITE | (IsNtPlatform() ? DELETE : 0); }

// Creates a new file at a free name as MakeFreeName finds it, but in one
// step: the creation itself tells that a name is taken, so no name is
// looked up twice. NoFile when no name is free or the file cannot be made.
static FileHandle CreateFreeFile(char* name, const char* from, const char* extension) {
    u8* last = StartFreeName(name, from, extension);
    if (last == nullptr) return NoFile;
    for (;;) {
        // Noted before it exists, so a run killed at any moment leaves no
        // file of its own unnoted; a name found taken is marked as not ours.
        NoteTemporaryFile(name);
        HANDLE file = CreateFileA(name, ScratchFileAccess(), 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) return reinterpret_cast<FileHandle>(file);
        DWORD error = GetLastError();
        KeepTemporaryFile(name);
        if ((error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) || *last == 0xFF) return NoFile;
        ++*last;
    }
}

// The check value of a finished file, read from its start through `file`:
// 16 (naming `path`) when it cannot be read, 21 (naming WorkPath) when it
// differs from `expected`.
static bool VerifyOpenFile(FileHandle file, const char* path, u32 expected) {
    u32 value = 0;
    if (SeekFile(file, 0, SeekFromStart) != 0 || !CheckFile(file, &value)) return Fail(CannotOpenFile, path);
    return value == expected || Fail(CheckValueMismatch, WorkPath);
}

static bool VerifyFile(const char* path, u32 expected) {
    FileHandle file = OpenExistingFile(path, OpenRead);
    bool verified = file != NoFile ? VerifyOpenFile(file, path, expected) : Fail(CannotOpenFile, path);
    CloseFile(file);
    return verified;
}

// The blocks behind an entry's fixed part: the version block, then the times.
static const u8* EntryBlocks(const FileEntry* entry) { return reinterpret_cast<const u8*>(entry + 1); }

static void SetEntryFileTimes(const FileEntry* entry, FileHandle file) {
    if ((entry->entryFlags & HasFileTimes) == 0) return;
    FILETIME times[3];
    u32 skip = (entry->entryFlags & HasVersionBlock) != 0 ? sizeof(VersionBlock) : 0;
    memcpy(times, EntryBlocks(entry) + skip, sizeof times);
    SetFileTime(reinterpret_cast<HANDLE>(file), &times[0], &times[1], &times[2]);
}

// A failed read of the file data: the user declined a disk (15), or the data
// is damaged (18, naming the archive).
static bool FileDataFailure() {
    return InstallationCancelled() ? Fail(InstallationDeclined, nullptr) : Fail(FileDataDamaged, ArchivePath);
}

// Decodes an entry's packed data into `file`. The decoder's own result is
// not used: the check value of the written file decides, unless a write
// failed (the disk is full), which is reported as such.
static bool DecodeEntryData(const FileEntry* entry, FileHandle file) {
    FileSink sink(file);
    // Solid data is the file's own bytes, so an empty file reads none.
    bool solid = FileDataIsSolid();
    if (!solid || entry->storedSize != 0) {
        u32 state = SeekFileData(entry->dataOffset);
        if (state != FileDataReady) return Fail(static_cast<i32>(state), nullptr);  // the stream named the volume
        if (solid) {
            CopySolidData(entry->storedSize, sink);
        } else {
            InflateSource source = FileDataInflateSource(entry->storedSize);
            InflateStream(source, sink);
        }
    }
    // The user declined the next disk: the entry ends, and with a state, so
    // the driver never counts it as installed.
    if (InstallationCancelled()) return Fail(engineState != NoEngineError ? engineState : InstallationDeclined, nullptr);
    return sink.Result() == WriteDone || WriteFailure(sink.Result(), sink.Error());
}

// Copies file `name` from beside the setup program to `target` and makes the
// copy writable. A failure is 1000 with the system's code, naming `name`.
static bool CopyFromSetupFolder(const char* name, const char* target) {
    char source[PathCapacity];
    const char* slash = LastBackslash(SourcePath);
    u32 folder = slash != nullptr ? static_cast<u32>(slash + 1 - SourcePath) : 0;
    u32 length = static_cast<u32>(strlen(name));
    BOOL copied = FALSE;
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    if (folder + length < PathCapacity) {
        memcpy(source, SourcePath, folder);
        memcpy(source + folder, name, length + 1);
        copied = CopyFileA(source, target, FALSE);
    }
    if (!copied) {
        systemError = GetLastError();
        return Fail(CopyFromSourceFailed, name);
    }
    DWORD attributes = GetFileAttributesA(target);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
        SetFileAttributesA(target, attributes & ~FILE_ATTRIBUTE_READONLY);
    return true;
}

// ---------------------------------------------------------------------------
// Version and language rules

// Asks message `n` about WorkPath; true when the user answers Yes. An empty
// text keeps the file without asking when `silentWhenEmpty`.
static bool AskToReplace(u32 n, char* message, bool silentWhenEmpty) {
    if (Unattended()) {
        LogLine("kept", WorkPath, n == NewerFileQuestion ? "the computer has a newer version" : "it is in another language");
        return false;
    }
    const char* text = LookupText(MessageTexts, n);
    if (silentWhenEmpty && *text == '\0') return false;
    FormatTextWithPath(message, text, WorkPath);
    return ShowMessage(message, KeepFileQuestionStyle) == IDYES;
}

// The version service's functions, looked up in the system folder's
// version.dll (no KnownDLL) by each check.
typedef DWORD(WINAPI* VersionSizeFunction)(LPCSTR file, LPDWORD unused);
typedef BOOL(WINAPI* VersionInfoFunction)(LPCSTR file, DWORD unused, DWORD size, void* info);
typedef BOOL(WINAPI* VersionQueryFunction)(const void* info, LPCSTR name, void** value, PUINT length);
static const char VersionLibrary[] = "version.dll";
static VersionQueryFunction queryVersion;

static bool IsExistingNewer(const void* info, const VersionBlock& version) {
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!queryVersion(info, "\\", reinterpret_cast<void**>(&fixed), &length) || length < sizeof *fixed) return false;
    return fixed->dwFileVersionMS > version.versionHigh ||
           (fixed->dwFileVersionMS == version.versionHigh && fixed->dwFileVersionLS > version.versionLow);
}

static bool IsOtherLanguage(const void* info, const VersionBlock& version) {
    WORD* languages = nullptr;
    UINT length = 0;
    if (!queryVersion(info, "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&languages), &length) ||
        length < sizeof *languages)
        return false;
    return languages[0] != static_cast<WORD>(version.language);
}

bool CheckVersionRules(const FileEntry* entry) {
    char* message = nullptr;
    void* info = nullptr;
    DWORD unused = 0;
    VersionSizeFunction versionSize =
        reinterpret_cast<VersionSizeFunction>(SystemFunction(VersionLibrary, "GetFileVersionInfoSizeA"));
    VersionInfoFunction versionInfo =
        reinterpret_cast<VersionInfoFunction>(SystemFunction(VersionLibrary, "GetFileVersionInfoA"));
    queryVersion = reinterpret_cast<VersionQueryFunction>(SystemFunction(VersionLibrary, "VerQueryValueA"));
    DWORD size = versionSize != nullptr && versionInfo != nullptr && queryVersion != nullptr
                     ? versionSize(WorkPath, &unused)
                     : 0;
    bool write = true;
    // Without the version service, memory or version information the file
    // is written.
    if (size != 0 && AllocateBlock(MessageCapacity, &message) && AllocateBlock(size, &info) &&
        versionInfo(WorkPath, 0, size, info)) {
        VersionBlock version;
        memcpy(&version, EntryBlocks(entry), sizeof version);
        u8 flags = entry->entryFlags;
        write = ((flags & VersionRule) == 0 || !IsExistingNewer(info, version) ||
                 AskToReplace(NewerFileQuestion, message, true)) &&
                ((flags & LanguageRule) == 0 || !IsOtherLanguage(info, version) ||
                 AskToReplace(OtherLanguageQuestion, message, false));
    }
    ReleaseBlock(&info);
    ReleaseBlock(&message);
    return write;
}

// ---------------------------------------------------------------------------
// Delta entries (archive/delta_format.h): both streams are read into memory,
// then the commands build the file beside the base, which it replaces.

struct DeltaStream {
    u8* data;
    u32 size;
};

// Reads `count` bytes of the file-data stream, across volume changes.
static bool ReadStreamBytes(u8* buffer, u32 count) {
    while (count > 0) {
        u32 got = 0;
        if (!ReadFileData(buffer, count, &got) || got == 0) return false;
        buffer += got;
        count -= got;
    }
    return true;
}

// Reads one delta stream at the file-data stream's position, raw or
// compressed. A size of 0 takes no memory.
static bool ReadDeltaStream(DeltaStream* stream) {
    DeltaStreamHeader header;
    if (ReadDeltaStreamHeader(ReadStreamBytes, &header) != DeltaHeaderRead) return FileDataFailure();
    if (header.size == 0) return true;
    if (!AllocateBlock(header.size, &stream->data)) return Fail(EngineOutOfMemory, nullptr);
    stream->size = header.size;
    if ((header.flags & DeltaStreamCompressed) == 0)
        return ReadStreamBytes(stream->data, header.size) || FileDataFailure();
    u32 produced = 0;
    InflateSource source = FileDataInflateSource(header.storedSize);
    // A stream that decodes to fewer bytes than its size would leave unset bytes.
    return (InflateToMemory(stream->data, header.size, source, &produced) && produced == header.size) ||
           FileDataFailure();
}

// The output of the delta commands: the new file, written beside the base.
struct DeltaFileOutput {
    FileHandle base;
    u32 baseSize;
    FileHandle output;
    const char* outputName;
    u8* copyBuffer;
    u32 written;
    // Progress moves through the entry's range in steps of DeltaProgressStep
    // output bytes.
    u32 startPercent;
    u32 endPercent;
    u32 units;  // of DeltaProgressStep bytes in the entry's size
    u32 lastPercent;

    bool WriteLiterals(const u8* bytes, u32 count) {
        written += count;
        return WriteProduced(output, bytes, count);
    }

    // A range outside the base file is damaged data, named by the destination.
    bool CopyFromBase(u32 from, u32 count) {
        if (!DeltaCopyInBase(baseSize, from, count) || SeekFile(base, static_cast<i32>(from), SeekFromStart) != from ||
            !ReadExactly(base, copyBuffer, count))
            return Fail(FileDataDamaged, WorkPath);
        written += count;
        return WriteProduced(output, copyBuffer, count);
    }

    void CommandDone() {
        if (startPercent == endPercent) return;
        u32 percent =
            startPercent + (written + DeltaProgressStep) / DeltaProgressStep * (endPercent - startPercent) / units;
        // Output beyond the entry's size (a damaged delta) must not push the
        // bar past the entry's range.
        if (percent > endPercent) percent = endPercent;
        if (percent == lastPercent) return;
        showDeltaProgress(percent);
        lastPercent = percent;
    }
};

// Carries out the commands. The text of the archive format treats literals
// asked of an empty literal stream as a write failure; other damage of the
// streams is damaged data of the archive.
static bool RunDelta(DeltaFileOutput& output, const DeltaStream& commands, const DeltaStream& literals) {
    u32 failedAt = 0;
    DeltaRunStatus status = RunDeltaCommands(MakeCursor(commands.data, commands.size),
                                             MakeCursor(literals.data, literals.size), output, &failedAt);
    if (status == DeltaRunDone || status == DeltaOutputStopped) return status == DeltaRunDone;
    if (status == DeltaLiteralsCutShort && literals.size == 0) return Fail(CannotWriteFile, output.outputName);
    return Fail(FileDataDamaged, ArchivePath);
}

bool ApplyDelta(const FileEntry* entry, const char* baseFile, u32 startPercent, u32 endPercent) {
    u32 state = SeekFileData(entry->dataOffset);
    if (state != FileDataReady) return Fail(static_cast<i32>(state), nullptr);
    DeltaFileOutput output = {NoFile, 0, NoFile, nullptr, nullptr, 0, startPercent, endPercent,
                              (entry->size + DeltaProgressStep) / DeltaProgressStep, startPercent};
    output.base = OpenExistingFile(baseFile, OpenRead);
    if (output.base == NoFile) return Fail(CannotOpenFile, baseFile);
    output.baseSize = FileSize(output.base);
    char outputName[PathCapacity];
    output.outputName = outputName;
    if (MakeFreeName(outputName, baseFile, DeltaExtension)) output.output = CreateNewFile(outputName);
    if (output.output == NoFile) {
        CloseFile(output.base);
        return Fail(CannotCreateFile, outputName);
    }
    DeltaStream commands = {nullptr, 0};
    DeltaStream literals = {nullptr, 0};
    bool done = ReadDeltaStream(&commands) && ReadDeltaStream(&literals) &&
                (AllocateBlock(MaxCopy, &output.copyBuffer) || Fail(EngineOutOfMemory, nullptr)) &&
                RunDelta(output, commands, literals);
    CloseFile(output.base);
    if (done) SetEntryFileTimes(entry, output.output);
    CloseFile(output.output);
    done = done && VerifyFile(outputName, entry->checkValue) &&
           ((DeleteFileA(baseFile) && MoveFileA(outputName, baseFile)) || Fail(CannotWriteFile, baseFile));
    if (!done) DeleteFileA(outputName);
    ReleaseBlock(&commands.data);
    ReleaseBlock(&literals.data);
    ReleaseBlock(&output.copyBuffer);
    return done;
}

// ---------------------------------------------------------------------------
// Contents of an entry

// The base entry's contents in `file` (closed here), checked.
static bool ProduceDeltaBase(const FileEntry* entry, FileHandle file) {
    const FileEntry* base = FileEntryAt(entry->baseSet, entry->baseIndex);
    bool produced;
    if (base == nullptr) {
        produced = Fail(FileDataDamaged, ArchivePath);
    } else if ((base->entryFlags & CopiedFromSetupFolder) != 0) {
        // The base lies beside the setup program under its own name.
        CloseFile(file);
        file = NoFile;
        produced = CopyFromSetupFolder(EntryString(base, EntryFileName), ScratchPath);
    } else {
        produced = DecodeEntryData(base, file);
    }
    CloseFile(file);
    return produced && VerifyFile(ScratchPath, base->checkValue);
}

bool ProduceEntryContents(const FileEntry* entry, u32 startPercent, u32 endPercent) {
    FileHandle file = NoFile;
    u8 flags = entry->entryFlags;
    if ((flags & CopiedFromSetupFolder) != 0) {
        if (MakeFreeName(ScratchPath, WorkPath, ProducedExtension))
            return CopyFromSetupFolder(EntryString(entry, EntryFileName), ScratchPath);
    } else if ((flags & DeltaEntry) != 0) {
        if (MakeFreeName(ScratchPath, WorkPath, ProducedExtension)) file = CreateNewFile(ScratchPath);
    } else {
        file = CreateFreeFile(ScratchPath, WorkPath, ProducedExtension);
    }
    if (file == NoFile) {
        // The name is not this entry's file: the driver must not delete it.
        Fail(CannotCreateFile, ScratchPath);
        ScratchPath[0] = '\0';
        return false;
    }
    if ((flags & DeltaEntry) != 0)
        return ProduceDeltaBase(entry, file) && ApplyDelta(entry, ScratchPath, startPercent, endPercent);

    bool uninstaller = (flags & UninstallerEntry) != 0;
    const LoadedBody& prefix = setupScript.prefixData;
    // The uninstaller is its prefix block followed by the entry's own data
    // (that data alone when the archive has no prefix). It gets its log
    // appended later and is not checked.
    bool produced = (!uninstaller || prefix.data == nullptr ||
                     WriteProduced(file, prefix.data, prefix.size)) &&
                    DecodeEntryData(entry, file) &&
                    (uninstaller || VerifyOpenFile(file, ScratchPath, entry->checkValue));
    if (produced && !uninstaller) SetEntryFileTimes(entry, file);
    if (produced)
        scratchFile = file;  // kept open for the move into place
    else
        CloseFile(file);
    return produced;
}

void CloseScratchFile() {
    CloseFile(scratchFile);
    scratchFile = NoFile;
}

// ---------------------------------------------------------------------------
// Replacement

// Deleting a file that is in use or locked fails with one of these.
static bool IsLockedError(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// A lookup that failed because nothing is at the path.
static bool IsMissingError(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// True when the file at WorkPath already has the entry's size and check
// value. A file that cannot be read is not taken for the same file.
static bool HoldsEntryContents(const FileEntry* entry) {
    FileHandle file = OpenExistingFile(WorkPath, OpenRead);
    u32 value = 0;
    bool same = file != NoFile && FileSize(file) == entry->size && CheckFile(file, &value) &&
                value == entry->checkValue;
    CloseFile(file);
    return same;
}

// Message 22 about WorkPath with Abort, Retry and Ignore; Ignore when no
// buffer can be had or the box answers otherwise.
static i32 AskAboutLockedFile() {
    char* message = nullptr;
    i32 answer = IDIGNORE;
    SetMessagePath(WorkPath);
    if (AllocateBlock(MessageCapacity, &message)) {
        FormatMessageText(message, AccessDeniedMessage);
        answer = ShowMessage(message, MB_ABORTRETRYIGNORE);
        ReleaseBlock(&message);
    }
    return answer == IDABORT || answer == IDRETRY ? answer : IDIGNORE;
}

// Unattended, a locked file is tried again a few times, a moment apart,
// before it is left for the restart like a system file.
const u32 UnattendedLockedRetries = 5;
const DWORD UnattendedRetryPause = 400;  // ms
static u32 lockedRetries;

void ReplaceAtRestart(const char* temporaryFile) {
    ScheduleAtRestart(WorkPath, temporaryFile);
    KeepTemporaryFile(temporaryFile);
    NoteRestartReplacement(WorkPath, temporaryFile);
    restartNeeded = true;
    LogLine("left for the restart", WorkPath, "it is in use");
}

static i32 LeaveForRestart(FileEntry* entry, const char* temporaryFile) {
    ReplaceAtRestart(temporaryFile);
    entry->outcome = FileReplaced;
    return IDIGNORE;
}

i32 HandleLockedDestination(FileEntry* entry, const char* temporaryFile) {
    u8 folder = entry->destinationFolder;
    if (folder == WindowsFolder || folder == SystemFolder) return LeaveForRestart(entry, temporaryFile);
    if (Unattended() && folder != FontsFolder && !HoldsEntryContents(entry)) {
        if (lockedRetries++ < UnattendedLockedRetries) {
            Sleep(UnattendedRetryPause);
            return IDRETRY;
        }
        return LeaveForRestart(entry, temporaryFile);
    }
    // A font in use, or the same file already there, stays as it is.
    i32 answer = folder == FontsFolder || HoldsEntryContents(entry) ? IDIGNORE : AskAboutLockedFile();
    if (answer == IDRETRY) return answer;
    DeleteFileA(temporaryFile);
    if (answer == IDIGNORE) {
        entry->outcome = FileReplaced;
        LogLine("kept", WorkPath, "it is in use");
    }
    return answer;  // after Abort the outcome stays FileNotReplaced
}

// The system's rename of an open file (NT 4 onwards), with the new name as
// a full native path.
typedef LONG(WINAPI* SetInformationFileFunction)(HANDLE file, void* status, void* information, ULONG length,
                                                   int informationClass);
const int FileRenameInformationClass = 10;
struct IoStatus {
    void* status;
    ULONG_PTR information;
};
struct RenameInformation {
    BOOLEAN replaceIfExists;
    HANDLE rootDirectory;
    ULONG nameBytes;
    WCHAR name[WorkPathCapacity + 8];
};

// No name given through NameOpenFile: the system cannot, or the path is
// neither on a drive nor on a network share.
const LONG NoSuchCall = -1;
const LONG NameTaken = static_cast<LONG>(0xC0000035);  // STATUS_OBJECT_NAME_COLLISION
const int FileLinkInformationClass = 11;

// Gives the open `file` the name `path` through the system's call on its
// handle (NT 4 onwards), which spares the system opening it once more: with
// FileRenameInformationClass its new name (with `replace`, over a file that
// is there, in one step), with FileLinkInformationClass a second one. The
// system's status: negative when it failed.
static LONG NameOpenFile(FileHandle file, const char* path, bool replace, int informationClass) {
    HMODULE system = IsNtPlatform() ? GetModuleHandleA("ntdll.dll") : nullptr;
    SetInformationFileFunction setInformation =
        system != nullptr ? reinterpret_cast<SetInformationFileFunction>(
                                reinterpret_cast<void*>(GetProcAddress(system, "NtSetInformationFile")))
                          : nullptr;
    bool network = path[0] == '\\' && path[1] == '\\';
    if (setInformation == nullptr || (!network && (path[1] != ':' || path[2] != '\\'))) return NoSuchCall;
    // "\??\C:\..." for a drive, "\??\UNC\server\..." for a share.
    static const WCHAR DrivePrefix[] = L"\\??\\";
    static const WCHAR SharePrefix[] = L"\\??\\UNC";
    const WCHAR* prefix = network ? SharePrefix : DrivePrefix;
    u32 prefixLength = network ? 7 : 4;
    RenameInformation rename;
    rename.replaceIfExists = replace;
    rename.rootDirectory = nullptr;
    memcpy(rename.name, prefix, prefixLength * sizeof(WCHAR));
    int converted = MultiByteToWideChar(CP_ACP, 0, path + (network ? 1 : 0), -1, rename.name + prefixLength,
                                        static_cast<int>(WorkPathCapacity));
    if (converted <= 1) return NoSuchCall;
    rename.nameBytes = static_cast<ULONG>((prefixLength + converted - 1) * sizeof(WCHAR));
    IoStatus status;
    return setInformation(reinterpret_cast<HANDLE>(file), &status, &rename, sizeof rename, informationClass);
}

// Renames the open temporary file to WorkPath through its handle; false
// when it cannot, and the caller then moves it by name.
static bool RenameOpenFile(FileHandle file, bool replace) {
    return NameOpenFile(file, WorkPath, replace, FileRenameInformationClass) >= 0;
}

bool LinkFreeName(FileHandle file, char* name, const char* from, const char* extension) {
    u8* last = StartFreeName(name, from, extension);
    if (last == nullptr) return false;
    for (;;) {
        NoteTemporaryFile(name);
        LONG status = NameOpenFile(file, name, false, FileLinkInformationClass);
        if (status >= 0) return true;
        KeepTemporaryFile(name);  // not made: the name is someone else's, or there are no links
        if (status != NameTaken || *last == 0xFF) return false;
        ++*last;
    }
}

// Moves the temporary file to WorkPath: through its handle when the entry's
// contents were decoded here (the handle is closed either way), else by name.
static bool MoveIntoPlace(const char* temporaryFile) {
    bool renamed = scratchFile != NoFile && RenameOpenFile(scratchFile, false);
    CloseScratchFile();
    return renamed || MoveFileA(temporaryFile, WorkPath);
}

void ReplaceDestination(FileEntry* entry, const char* temporaryFile) {
    entry->outcome = FileNotReplaced;
    // Remembered across retries, so the new file is read-only again even
    // when the first attempt already cleared the attribute.
    bool readOnly = false;
    bool replaced = false, moved = false;
    lockedRetries = 0;
    // A new file, the common case, needs no look at the destination first:
    // the rename fails when something is there, and the steps below follow.
    if (scratchFile != NoFile && RenameOpenFile(scratchFile, false)) {
        CloseScratchFile();
        entry->outcome = FileNew;
        NoteCreatedFile(WorkPath);
        LogLine("installed", WorkPath);
        return;
    }
    bool putAside = false;
    for (;;) {
        DWORD attributes = GetFileAttributesA(WorkPath);
        // Nothing there: the file is new, with no delete to try.
        if (attributes == INVALID_FILE_ATTRIBUTES && IsMissingError(GetLastError())) break;
        // Kept until the installation ends, so a rollback can bring it back;
        // a file that cannot be kept is not replaced.
        PutAsideResult aside = putAside || attributes == INVALID_FILE_ATTRIBUTES
                                   ? PutAside
                                   : PutAsideBeforeReplacing(WorkPath, attributes, true);
        if (aside == CannotPutAside) {
            DWORD error = GetLastError();
            CloseScratchFile();
            DeleteFileA(temporaryFile);
            WriteFailure(WriteFailed, error);
            return;
        }
        putAside = aside == PutAside;
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
            readOnly = true;
            SetFileAttributesA(WorkPath, attributes & ~FILE_ATTRIBUTE_READONLY);
        }
        // On NT the new file takes the old one's place in one step, so a
        // setup stopped at any moment leaves the old file or the new one,
        // never neither; a file in use refuses it as it refuses the delete.
        if (scratchFile != NoFile && RenameOpenFile(scratchFile, true)) {
            CloseScratchFile();
            replaced = moved = true;
            break;
        }
        replaced = DeleteFileA(WorkPath) != FALSE;
        // Any other failure makes the file new, as a missing one does.
        if (replaced || !IsLockedError(GetLastError())) break;
        // The questions and the restart need the temporary file closed.
        CloseScratchFile();
        if (HandleLockedDestination(entry, temporaryFile) != IDRETRY) {
            if (putAside) ForgetPutAside(WorkPath);  // the old file stays where it is
            return;
        }
    }
    // A failed move leaves the entry not replaced, which the driver reports
    // naming WorkPath, instead of counting a file that is not there.
    if (!moved && !MoveIntoPlace(temporaryFile)) {
        DeleteFileA(temporaryFile);
        return;
    }
    if (readOnly) SetFileAttributesA(WorkPath, FILE_ATTRIBUTE_READONLY);
    if (!replaced) NoteCreatedFile(WorkPath);
    entry->outcome = replaced ? FileReplaced : FileNew;
    LogLine(replaced ? "replaced" : "installed", WorkPath);
}
