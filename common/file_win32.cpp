// Win32 file helpers. Readers let others read too; a writer shares nothing.
#include <windows.h>

#include "common/file.h"

static const DWORD openAccess[] = {GENERIC_READ, GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE};
static const DWORD openSharing[] = {FILE_SHARE_READ, 0, FILE_SHARE_READ};

static FileHandle ToFileHandle(HANDLE handle) { return reinterpret_cast<FileHandle>(handle); }
static HANDLE ToHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

FileHandle OpenExistingFile(const char* path, OpenMode mode) {
    return ToFileHandle(CreateFileA(path, openAccess[mode], openSharing[mode], nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
}

FileHandle CreateNewFile(const char* path) {
    return ToFileHandle(
        CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

void CloseFile(FileHandle file) {
    if (file != NoFile) CloseHandle(ToHandle(file));
}

bool ReadFromFile(FileHandle file, void* buffer, u32 count, u32* got) {
    DWORD read = 0;
    BOOL ok = ReadFile(ToHandle(file), buffer, count, &read, nullptr);
    *got = read;
    return ok != FALSE;
}

WriteResult WriteToFile(FileHandle file, const void* data, u32 count) {
    DWORD written = 0;
    if (!WriteFile(ToHandle(file), data, count, &written, nullptr)) return WriteFailed;
    return written == count ? WriteDone : WriteShort;
}

u32 LastFileError() { return GetLastError(); }

u32 FileSize(FileHandle file) { return GetFileSize(ToHandle(file), nullptr); }

u32 SeekFile(FileHandle file, i32 offset, SeekOrigin origin) {
    static const DWORD method[] = {FILE_BEGIN, FILE_CURRENT, FILE_END};
    return SetFilePointer(ToHandle(file), offset, nullptr, method[origin]);
}
