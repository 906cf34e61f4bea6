#include "engine/path_macros.h"

#include <shlobj.h>
#include <string.h>

#include "archive/script.h"
#include "common/file.h"
#include "common/helpers.h"
#include "common/macros.h"
#include "common/paths.h"
#include "common/system_libraries.h"
#include "common/system_paths.h"

SharedFileSearch findSharedFile;

static bool PutFontsFolder(char* folder) { return GetShellFolderPath(CSIDL_FONTS, folder); }

// Appends a backslash when needed and then `name`, cut to fit `capacity`.
static void AppendPathName(char* path, const char* name, u32 capacity) {
    u32 length = static_cast<u32>(strlen(path));
    if (length != 0 && !EndsWithBackslash(path) && length + 1 < capacity) path[length++] = '\\';
    CopyPath(path + length, name, capacity - length);
}

// The part of `path` behind its last backslash (all of it when it has none).
static const char* FileNamePart(const char* path) {
    const char* slash = LastBackslash(path);
    return slash != nullptr ? slash + 1 : path;
}

static bool FileExists(const char* path) {
    FileHandle file = OpenExistingFile(path, OpenRead);
    CloseFile(file);
    return file != NoFile;
}

// ---------------------------------------------------------------------------
// Destinations

// The shared-file search's buffers, in one zero-filled block. The current
// folder gets a WorkPath's room so it can be joined with the file name.
const u32 SearchDestinationOffset = 0;
const u32 SearchWindowsOffset = PathCapacity;
const u32 SearchCurrentOffset = 2 * PathCapacity;
const u32 SearchBlockSize = 2 * PathCapacity + WorkPathCapacity;

// WorkPath holds the application folder. Asks where the shared file `name`
// belongs, puts that path into WorkPath and tells whether the copy there is
// in use.
static bool ResolveSharedFile(const char* name, char* buffers) {
    char* destinationFolder = buffers + SearchDestinationOffset;
    char* windowsFolder = buffers + SearchWindowsOffset;
    char* currentFolder = buffers + SearchCurrentOffset;
    RemoveTrailingBackslash(WorkPath);
    char* fileName = const_cast<char*>(FileNamePart(name));
    PutWindowsFolder(windowsFolder);
    UINT currentSize = PathCapacity;
    UINT destinationSize = PathCapacity;
    SharedFileSearch search = findSharedFile != nullptr
                                  ? findSharedFile
                                  : reinterpret_cast<SharedFileSearch>(SystemFunction("version.dll", "VerFindFileA"));
    // Without the search the buffers stay empty: the file goes to the system folder.
    DWORD found = search != nullptr ? search(VFFF_ISSHAREDFILE, fileName, windowsFolder, WorkPath, currentFolder,
                                             &currentSize, destinationFolder, &destinationSize)
                                    : 0;
    bool inUse = (found & VFF_FILEINUSE) != 0;

    if (destinationFolder[0] != '\0')
        CopyPath(WorkPath, destinationFolder, WorkPathCapacity);
    else
        PutSystemFolder(WorkPath);
    AppendPathName(WorkPath, fileName, WorkPathCapacity);
    if (FileExists(WorkPath)) return inUse;
    // Not where it goes: in use only when the copy in use is that very path.
    if (currentFolder[0] == '\0') return false;
    AppendPathName(currentFolder, fileName, WorkPathCapacity);
    return inUse && lstrcmpiA(currentFolder, WorkPath) == 0;
}

bool ResolveDestination(const FileEntry* entry) {
    const char* name = EntryString(entry, EntryFileName);
    CopyPath(WorkPath, DestinationPath, WorkPathCapacity);
    if (entry->entryKind == SetupFolderFile) {
        CopyPath(WorkPath, SourcePath, WorkPathCapacity);
        char* fileName = const_cast<char*>(FileNamePart(WorkPath));
        CopyPath(fileName, name, WorkPathCapacity - static_cast<u32>(fileName - WorkPath));
        return false;
    }
    switch (entry->destinationFolder) {
        case WindowsFolder: PutWindowsFolder(WorkPath); break;
        case FontsFolder:
            if (!PutFontsFolder(WorkPath)) CopyPath(WorkPath, DestinationPath, WorkPathCapacity);
            break;
        case SystemFolder: {
            char* buffers;
            if (!AllocateZeroedBlock(SearchBlockSize, &buffers)) break;  // then it goes to the set's folder
            bool inUse = ResolveSharedFile(name, buffers);
            ReleaseBlock(&buffers);
            return inUse;
        }
        default: break;
    }
    AppendPathName(WorkPath, name, WorkPathCapacity);
    return false;
}

void ResolveFileReference(const char* name) {
    const FileEntry* entry = FindFileEntry(name);
    if (entry != nullptr)
        ResolveDestination(entry);
    else
        ExpandMacros(WorkPath, name, PathCapacity);
}
