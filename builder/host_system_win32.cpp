// kelvo's system services on Windows (kelvo.exe). Texts are UTF-8; the
// system is called with UTF-16.
#include <windows.h>

#include <errno.h>
#include <io.h>

#include <algorithm>
#include <stdexcept>

#include "builder/host_system.h"

namespace {

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

std::string Narrow(const std::wstring& wide) {
    if (wide.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n, nullptr, nullptr);
    return utf8;
}

// errno's value for the last Windows error, for messages made with strerror.
int ErrnoOfLastError() {
    switch (GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME: return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION: return EACCES;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return ENOSPC;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY: return ENOMEM;
        default: return EIO;
    }
}

HANDLE AsHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// One argument quoted for CommandLineToArgvW and the C runtime's parser:
// backslashes are literal except before a quote.
std::wstring Quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            backslashes++;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

// The program `name` as CreateProcess needs it: a name without a folder is
// looked up in the search path, with ".exe" added when it has no extension.
std::wstring FindProgram(const std::string& name) {
    wchar_t found[MAX_PATH * 4];
    DWORD n = SearchPathW(nullptr, Wide(name).c_str(), L".exe", MAX_PATH * 4, found, nullptr);
    return n > 0 && n < MAX_PATH * 4 ? std::wstring(found, n) : std::wstring();
}

// Sends `input` to the child and closes the pipe; as on POSIX, an input is
// small enough that this never waits on the child's output.
void Feed(HANDLE pipe, const std::string& input) {
    DWORD put = 0;
    for (size_t written = 0; written < input.size(); written += put)
        if (!WriteFile(pipe, input.data() + written, static_cast<DWORD>(input.size() - written), &put, nullptr) ||
            put == 0)
            break;
    CloseHandle(pipe);
}

void Collect(HANDLE pipe, std::string* said) {
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) said->append(buffer, got);
    CloseHandle(pipe);
}

}  // namespace

std::filesystem::path HostPath(const std::string& utf8) { return std::filesystem::path(Wide(utf8)); }

std::string Utf8Path(const std::filesystem::path& path) { return Narrow(path.wstring()); }

bool IdentifyFile(const std::string& path, FileIdentity* identity, int* error) {
    HANDLE file = CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION info;
    bool known = file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &info);
    if (!known) *error = ErrnoOfLastError();
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (!known) return false;
    *identity = {info.dwVolumeSerialNumber, (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow,
                 (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow};
    return true;
}

bool ReadLastWriteTime(const std::string& path, uint64_t* ticks) {
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &info)) return false;
    *ticks = (static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) | info.ftLastWriteTime.dwLowDateTime;
    return true;
}

bool MoveOver(const std::string& from, const std::string& to, int* error) {
    if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    *error = ErrnoOfLastError();
    return false;
}

std::string OwnProgramPath() {
    std::wstring self(32768, L'\0');
    DWORD n = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
    if (n == 0 || n >= self.size()) return "";
    self.resize(n);
    return Narrow(self);
}

bool IsTerminal(FILE* stream) {
    DWORD mode;
    return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), &mode) != 0;
}

int RunProgram(const std::vector<std::string>& args, const std::string& input, std::string* said) {
    std::wstring program = FindProgram(args[0]);
    if (program.empty()) return 127;
    std::wstring line;
    for (const std::string& arg : args) line += (line.empty() ? L"" : L" ") + Quoted(Wide(arg));
    STARTUPINFOW start = {};
    start.cb = sizeof start;
    HANDLE inRead = nullptr, inWrite = nullptr, outRead = nullptr, outWrite = nullptr;
    if (said != nullptr) {
        SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
        if (!CreatePipe(&inRead, &inWrite, &inherited, 0)) return -1;
        if (!CreatePipe(&outRead, &outWrite, &inherited, 0)) {
            CloseHandle(inRead);
            CloseHandle(inWrite);
            return -1;
        }
        // Only the child's ends are inherited.
        SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
        start.dwFlags = STARTF_USESTDHANDLES;
        start.hStdInput = inRead;
        start.hStdOutput = outWrite;
        start.hStdError = outWrite;
    }
    PROCESS_INFORMATION child = {};
    BOOL started = CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, said != nullptr, 0, nullptr,
                                  nullptr, &start, &child);
    if (said != nullptr) {
        CloseHandle(inRead);
        CloseHandle(outWrite);
        if (started) {
            Feed(inWrite, input);
            Collect(outRead, said);
        } else {
            CloseHandle(inWrite);
            CloseHandle(outRead);
        }
    }
    if (!started) return 127;
    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(child.hProcess, &status);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    return static_cast<int>(status);
}

TemporaryFile::TemporaryFile(const char* stem) {
    wchar_t folder[MAX_PATH + 1];
    wchar_t name[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, folder);
    if (n == 0 || n > MAX_PATH || GetTempFileNameW(folder, Wide(stem).substr(0, 3).c_str(), 0, name) == 0)
        throw std::runtime_error(std::string("cannot create a temporary file: ") + strerror(ErrnoOfLastError()));
    path = Narrow(name);
}

TemporaryFile::~TemporaryFile() { DeleteFileW(Wide(path).c_str()); }

ScratchFile::ScratchFile(const std::string& folder) {
    std::string where = folder.empty() ? "." : folder;
    wchar_t name[MAX_PATH + 1];
    HANDLE file = INVALID_HANDLE_VALUE;
    if (GetTempFileNameW(Wide(where).c_str(), L"kvp", 0, name) != 0)
        file = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        throw std::runtime_error("cannot create a temporary file in " + where + ": " + strerror(ErrnoOfLastError()));
    handle = reinterpret_cast<intptr_t>(file);
}

ScratchFile::~ScratchFile() { CloseHandle(AsHandle(handle)); }

namespace {

// Positioned transfers through OVERLAPPED offsets, which leave the file
// pointer alone, so threads never race on it.
bool TransferAt(HANDLE file, uint64_t offset, uint8_t* buffer, size_t count, bool write) {
    for (size_t done = 0; done < count;) {
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset + done);
        at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
        DWORD n = 0;
        DWORD ask = static_cast<DWORD>(std::min<size_t>(count - done, 1u << 30));
        bool moved = write ? WriteFile(file, buffer + done, ask, &n, &at) : ReadFile(file, buffer + done, ask, &n, &at);
        if (!moved || n == 0) return false;
        done += n;
    }
    return true;
}

}  // namespace

bool ScratchFile::WriteAt(uint64_t offset, const uint8_t* data, size_t count) {
    return TransferAt(AsHandle(handle), offset, const_cast<uint8_t*>(data), count, true);
}

bool ScratchFile::ReadAt(uint64_t offset, uint8_t* buffer, size_t count) const {
    return TransferAt(AsHandle(handle), offset, buffer, count, false);
}

InputFile::InputFile(const std::string& path, bool /*sparingTimes*/) {
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    error = file == INVALID_HANDLE_VALUE ? ErrnoOfLastError() : 0;
    handle = file == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<intptr_t>(file);
}

InputFile::~InputFile() {
    if (handle != -1) CloseHandle(AsHandle(handle));
}

bool InputFile::IsRegular(uint64_t* size) const {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(AsHandle(handle), &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    *size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return true;
}

long InputFile::Read(uint8_t* buffer, size_t count) {
    DWORD got = 0;
    if (!ReadFile(AsHandle(handle), buffer, static_cast<DWORD>(std::min<size_t>(count, 1u << 30)), &got, nullptr)) {
        error = ErrnoOfLastError();
        return -1;
    }
    return static_cast<long>(got);
}
