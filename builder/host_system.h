// What kelvo asks of the system it runs on, with one implementation for
// POSIX systems (host_system_posix.cpp) and one for Windows
// (host_system_win32.cpp). Every path kelvo handles is UTF-8 text on both:
// kelvo.exe runs with UTF-8 as its ANSI code page (its manifest says so),
// and file-system paths are made with HostPath, never from a narrow string
// directly, since the C++ library on Windows reads those in another code page.
#pragma once
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

// A path for std::filesystem from UTF-8 text, and back.
std::filesystem::path HostPath(const std::string& utf8);
std::string Utf8Path(const std::filesystem::path& path);

// True for a path that does not depend on the current folder: "/x" and
// "//server/share", and on any system "C:/x" or "C:\x", so a project written
// on Windows reads the same everywhere.
bool IsAbsoluteProjectPath(const std::string& path);

// Which file a path names, so that two paths of one file (a link, or
// another spelling) are read once; and its size.
struct FileIdentity {
    uint64_t device;
    uint64_t file;
    uint64_t size;
};
// False with errno's value in *error when the file cannot be looked at.
bool IdentifyFile(const std::string& path, FileIdentity* identity, int* error);

// A file's last write time, as Windows counts it: 100-nanosecond ticks
// since 1601. False when it cannot be read.
bool ReadLastWriteTime(const std::string& path, uint64_t* ticks);

// Renames `from` to `to`, replacing a file that is there. False with errno's
// value in *error.
bool MoveOver(const std::string& from, const std::string& to, int* error);

// The running program's own file; "" when the system cannot tell.
std::string OwnProgramPath();

// Whether `stream` (stdout or stderr) is a terminal, where a progress bar
// may redraw itself.
bool IsTerminal(FILE* stream);

// Runs `args` (the first one is looked up in the search path) and waits for
// it. With `said`, `input` goes to its standard input and its output and
// errors are collected there; without, it shares kelvo's. Returns its exit
// status, 127 when the program could not be started, -1 when the system
// could not run anything.
int RunProgram(const std::vector<std::string>& args, const std::string& input = "", std::string* said = nullptr);

// A new empty file in the temporary folder, removed when this goes.
class TemporaryFile {
public:
    explicit TemporaryFile(const char* stem);
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    std::string path;
};

// A read-write file with no name that anyone could open, created in
// `folder` and gone when this is destroyed; reads and writes at offsets may
// come from several threads.
class ScratchFile {
public:
    explicit ScratchFile(const std::string& folder);  // throws std::runtime_error
    ~ScratchFile();
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;
    bool WriteAt(uint64_t offset, const uint8_t* data, size_t count);
    bool ReadAt(uint64_t offset, uint8_t* buffer, size_t count) const;

private:
    intptr_t handle;
};

// A file opened for reading, for kelvo's whole-file and scanning readers.
class InputFile {
public:
    // Opens `path`; on failure IsOpen() is false and Error() holds errno's
    // value for the reason. `sparingTimes` asks the system not to update
    // the file's access time where it can.
    InputFile(const std::string& path, bool sparingTimes);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    bool IsOpen() const { return handle != -1; }
    int Error() const { return error; }
    // Whether it is a regular file, and its size.
    bool IsRegular(uint64_t* size) const;
    // Reads up to `count` bytes; 0 at the end, -1 on an error (Error() set).
    long Read(uint8_t* buffer, size_t count);

private:
    intptr_t handle;
    int error = 0;
};
