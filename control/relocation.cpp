#include "control/relocation.h"

#include <windows.h>
#include <string.h>

#include "archive/archive_offset.h"
#include "common/file.h"
#include "common/helpers.h"
#include "common/paths.h"
#include "common/system_paths.h"

bool IsOnRemovableDisk(const char* ownFile) {
    char root[PathCapacity];
    CopyPath(root, ownFile, PathCapacity);
    if (root[0] != '\0' && root[1] == ':') root[3] = '\0';  // "A:\"
    return GetDriveTypeA(root) == DRIVE_REMOVABLE;
}

void FormatRelocationCommand(char* command, const char* copy, const char* source) {
    // A temporary folder with blanks in its name ("Documents and Settings")
    // is quoted, or the copy would take the rest of its path for options.
    const char* format = strchr(copy, ' ') != nullptr ? "\"%s\" /S\"%s\" /DEL" : "%s /S\"%s\" /DEL";
    wsprintfA(command, format, copy, source);
}

// Creates the first _inst<n>.exe that does not exist yet; its path is left
// in ScratchPath.
static FileHandle CreateCopyFile() {
    for (u32 n = 1; n <= LastCopyNumber; n++) {
        if (!GetTempFolderPath(ScratchPath)) return NoFile;
        u32 length = static_cast<u32>(strlen(ScratchPath));
        if (length + sizeof "_inst998.exe" > PathCapacity) return NoFile;
        wsprintfA(ScratchPath + length, "_inst%u.exe", n);
        FileHandle existing = OpenExistingFile(ScratchPath, OpenRead);
        if (existing != NoFile) {
            CloseFile(existing);
            continue;
        }
        FileHandle created = CreateNewFile(ScratchPath);
        if (created != NoFile) return created;
    }
    return NoFile;
}

// Copies the program part; false when it cannot be copied in full.
static bool CopyProgramPart(FileHandle source, FileHandle copy) {
    u32 size = ArchiveOffset();
    u8* buffer;
    if (!AllocateBlock(size, &buffer)) return false;
    bool copied = ReadExactly(source, buffer, size) && WriteToFile(copy, buffer, size) == WriteDone;
    ReleaseBlock(&buffer);
    return copied;
}

bool RelocateToTemporaryFolder(int showCommand) {
    FileHandle copy = CreateCopyFile();
    if (copy == NoFile) return false;
    FileHandle source = OpenExistingFile(SourcePath, OpenRead);
    bool copied = source != NoFile && CopyProgramPart(source, copy);
    if (source != NoFile) CloseFile(source);
    CloseFile(copy);
    char command[RelocationCommandCapacity];
    FormatRelocationCommand(command, ScratchPath, SourcePath);
    // A copy that is incomplete or does not start would leave the user with
    // nothing: setup then goes on from the disk instead.
    if (copied && WinExec(command, static_cast<UINT>(showCommand)) > 31) return true;
    DeleteFileA(ScratchPath);
    return false;
}
