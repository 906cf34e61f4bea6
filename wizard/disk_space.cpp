#include "wizard/disk_space.h"

#include <windows.h>
#include <string.h>

#include "archive/script.h"
#include "archive/texts.h"
#include "common/file.h"
#include "common/helpers.h"
#include "common/paths.h"
#include "engine/folders.h"
#include "engine/path_macros.h"
#include "engine/setup_state.h"


// Asks for the cluster size and free clusters of the drive of `path`.
static bool QueryDrive(const char* path, u64* clusterBytes, u64* freeClusters) {
    char root[PathCapacity] = {};
    const char* asked = path;
    // A network path goes as typed; a drive letter is cut to its root.
    if (!(path[0] == '\\' && path[1] == '\\')) {
        CopyPath(root, path, PathCapacity);
        if (root[0] != '\0' && root[1] == ':') {
            root[2] = '\\';
            root[3] = '\0';
        }
        asked = root;
    }
    DWORD sectorsPerCluster, bytesPerSector, freeCount, totalCount;
    if (!GetDiskFreeSpaceA(asked, &sectorsPerCluster, &bytesPerSector, &freeCount, &totalCount)) return false;
    *clusterBytes = static_cast<u64>(sectorsPerCluster) * bytesPerSector;
    *freeClusters = freeCount;
    return true;
}

u32 GetFreeKilobytes(const char* path) {
    u64 clusterBytes, freeClusters;
    if (!QueryDrive(path, &clusterBytes, &freeClusters)) return UnknownFreeSpace;
    // Counted in 64 bits: a drive with terabytes free must not wrap round
    // to a small figure.
    u64 kilobytes = clusterBytes * freeClusters / 1024;
    return kilobytes < UnknownFreeSpace ? static_cast<u32>(kilobytes) : UnknownFreeSpace - 1;
}

u32 GetClusterKilobytes(const char* path) {
    u64 clusterBytes, freeClusters;
    if (!QueryDrive(path, &clusterBytes, &freeClusters)) return DefaultClusterKilobytes;
    return static_cast<u32>((clusterBytes + 1023) / 1024);
}

// `size` rounded up to whole units, in 32-bit division (a file's size is
// 32 bits): the setup program carries no 64-bit division.
static u64 RoundUp(u32 size, u32 unit) { return static_cast<u64>(size / unit + (size % unit != 0)) * unit; }

// True when the file at `path` can be opened for writing and for reading.
static bool CanWriteAndRead(const char* path) {
    FileHandle file = OpenExistingFile(path, OpenWrite);
    if (file == NoFile) return false;
    CloseFile(file);
    file = OpenExistingFile(path, OpenRead);
    if (file == NoFile) return false;
    CloseFile(file);
    return true;
}

// Tests access to an existing file that will be replaced. A refused file
// is tested again with its read-only attribute cleared (the engine clears
// it too when it replaces the file); the attribute is then put back as it
// was found.
static bool IsReplaceable(const char* path) {
    if (CanWriteAndRead(path)) return true;
    writeProtectionFound = true;
    DWORD attributes = GetFileAttributesA(path);
    SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
    bool replaceable = CanWriteAndRead(path);
    SetFileAttributesA(path, attributes);
    return replaceable;
}

// The length of the folder part of `path`, its last backslash included.
static u32 FolderPartLength(const char* path) {
    const char* slash = LastBackslash(path);
    return slash != nullptr ? static_cast<u32>(slash + 1 - path) : 0;
}

// True when WorkPath lies directly in `missing`, a folder found missing for
// an earlier entry: none of its files can be there, and asking for each
// would have the system search the folder above it every time.
static bool InMissingFolder(const char* missing) {
    u32 length = FolderPartLength(WorkPath);
    return length != 0 && strlen(missing) == length &&
           CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, WorkPath, static_cast<int>(length), missing,
                          static_cast<int>(length)) == CSTR_EQUAL;
}

DiskCheck CheckDiskSpace() {
    u32 freeKilobytes = GetFreeKilobytes(DestinationPath);
    u32 clusterKilobytes = GetClusterKilobytes(DestinationPath);
    u32 cluster = (clusterKilobytes != 0 ? clusterKilobytes : 1) * 1024;  // a drive that tells no size: 1 KB
    u64 need = 0, largest = 0;
    writeProtectionFound = false;
    char missingFolder[WorkPathCapacity] = "";
    FileEntry* entry = currentFirstEntry;
    for (u32 i = 0; i < currentFileCount; i++, entry = NextFileEntry(entry)) {
        bool inUse = ResolveDestination(entry);
        u64 size = RoundUp(entry->size, cluster);
        if (size > largest) largest = size;
        if (entry->entryKind == SetupFolderFile || entry->entryKind == FolderEntry) continue;
        bool folderMissing = InMissingFolder(missingFolder);
        FileHandle existing = folderMissing ? NoFile : OpenExistingFile(WorkPath, OpenRead);
        if (existing == NoFile) {
            if (!folderMissing && GetLastError() == ERROR_PATH_NOT_FOUND) {
                u32 length = FolderPartLength(WorkPath);
                memcpy(missingFolder, WorkPath, length);
                missingFolder[length] = '\0';
            }
            need += size;
            continue;
        }
        u64 present = RoundUp(FileSize(existing), cluster);
        CloseFile(existing);
        if (size > present) need += size - present;
        if (entry->destinationFolder == FontsFolder) {
            // A font that was there before is not removed at uninstall.
            if (entry->entryKind == RemovedFile) entry->entryKind = KeptFile;
            continue;
        }
        if (inUse) continue;
        if (!IsReplaceable(WorkPath)) {
            SetMessagePath(WorkPath);
            return FileNotAccessible;
        }
    }
    if (freeKilobytes == UnknownFreeSpace) return DiskCheckPassed;
    // The largest file counts once more: it is written beside itself first.
    u64 required = (largest + need) / 1024;
    return required < freeKilobytes ? DiskCheckPassed : NotEnoughSpace;
}
