// POSIX file helpers. Sharing modes have no POSIX counterpart and are not
// enforced here; the Windows build enforces them.
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "common/file.h"

static const int openFlags[] = {O_RDONLY, O_WRONLY, O_RDWR};

FileHandle OpenExistingFile(const char* path, OpenMode mode) {
    int fd = open(path, openFlags[mode] | O_CLOEXEC);
    return fd < 0 ? NoFile : fd;
}

FileHandle CreateNewFile(const char* path) {
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    return fd < 0 ? NoFile : fd;
}

void CloseFile(FileHandle file) {
    if (file != NoFile) close(static_cast<int>(file));
}

// A single read call, like ReadFile: one short count is the end of the file
// only when it is 0; regular files deliver everything asked up to their end.
bool ReadFromFile(FileHandle file, void* buffer, u32 count, u32* got) {
    u32 total = 0;
    while (total < count) {
        ssize_t n = read(static_cast<int>(file), static_cast<u8*>(buffer) + total, count - total);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *got = total;
            return false;
        }
        if (n == 0) break;
        total += static_cast<u32>(n);
    }
    *got = total;
    return true;
}

u32 LastFileError() { return static_cast<u32>(errno); }

WriteResult WriteToFile(FileHandle file, const void* data, u32 count) {
    u32 total = 0;
    while (total < count) {
        ssize_t n = write(static_cast<int>(file), static_cast<const u8*>(data) + total, count - total);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return total == 0 ? WriteFailed : WriteShort;
        if (n == 0) return WriteShort;
        total += static_cast<u32>(n);
    }
    return WriteDone;
}

u32 FileSize(FileHandle file) {
    off_t here = lseek(static_cast<int>(file), 0, SEEK_CUR);
    off_t end = lseek(static_cast<int>(file), 0, SEEK_END);
    if (here < 0 || end < 0 || end > 0xFFFFFFFEll) return SeekFailed;
    lseek(static_cast<int>(file), here, SEEK_SET);
    return static_cast<u32>(end);
}

u32 SeekFile(FileHandle file, i32 offset, SeekOrigin origin) {
    static const int whence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
    off_t position = lseek(static_cast<int>(file), offset, whence[origin]);
    if (position < 0 || position > 0xFFFFFFFEll) return SeekFailed;
    return static_cast<u32>(position);
}
