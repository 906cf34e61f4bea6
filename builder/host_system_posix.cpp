// kelvo's system services on Linux and other POSIX systems.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

#include "builder/host_system.h"

std::filesystem::path HostPath(const std::string& utf8) { return std::filesystem::path(utf8); }

std::string Utf8Path(const std::filesystem::path& path) { return path.string(); }

bool IdentifyFile(const std::string& path, FileIdentity* identity, int* error) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        *error = errno;
        return false;
    }
    *identity = {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino),
                 static_cast<uint64_t>(info.st_size)};
    return true;
}

namespace {

const uint64_t FileTimeTicksPerSecond = 10000000;
const uint64_t FileTimeEpochOffset = 11644473600;  // seconds from 1601 to 1970

uint64_t FileTimeOf(const timespec& t) {
    return (static_cast<uint64_t>(t.tv_sec) + FileTimeEpochOffset) * FileTimeTicksPerSecond +
           static_cast<uint64_t>(t.tv_nsec) / 100;
}

}  // namespace

bool ReadLastWriteTime(const std::string& path, uint64_t* ticks) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return false;
    *ticks = FileTimeOf(info.st_mtim);
    return true;
}

bool MoveOver(const std::string& from, const std::string& to, int* error) {
    if (rename(from.c_str(), to.c_str()) == 0) return true;
    *error = errno;
    return false;
}

std::string OwnProgramPath() {
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return "";
    self[n] = '\0';
    return self;
}

bool IsTerminal(FILE* stream) { return isatty(fileno(stream)) != 0; }

namespace {

void CloseBoth(int pipe[2]) {
    close(pipe[0]);
    close(pipe[1]);
}

// Writes `input` to the child's standard input and closes it. An input is
// a password, far smaller than a pipe's buffer, so writing it never waits
// for the child to read its output; a failed write leaves the child
// without it, which the child reports.
void Feed(int fd, const std::string& input) {
    void (*previous)(int) = signal(SIGPIPE, SIG_IGN);
    for (size_t written = 0; written < input.size();) {
        ssize_t put = write(fd, input.data() + written, input.size() - written);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) break;
        written += static_cast<size_t>(put);
    }
    close(fd);
    signal(SIGPIPE, previous);
}

void Collect(int fd, std::string* said) {
    char buffer[4096];
    for (;;) {
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        said->append(buffer, static_cast<size_t>(got));
    }
    close(fd);
}

}  // namespace

int RunProgram(const std::vector<std::string>& args, const std::string& input, std::string* said) {
    int in[2] = {-1, -1}, out[2] = {-1, -1};
    if (said != nullptr) {
        if (pipe2(in, O_CLOEXEC) != 0) return -1;
        if (pipe2(out, O_CLOEXEC) != 0) {
            CloseBoth(in);
            return -1;
        }
    }
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t child = fork();
    if (child == 0) {
        if (said != nullptr) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            dup2(out[1], 2);
        }
        execvp(argv[0], argv.data());
        dprintf(2, "cannot run %s: %s\n", argv[0], strerror(errno));
        _exit(127);
    }
    if (said != nullptr) {
        close(in[0]);
        close(out[1]);
        if (child < 0) {
            close(in[1]);
            close(out[0]);
        } else {
            Feed(in[1], input);
            Collect(out[0], said);
        }
    }
    if (child < 0) return -1;
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TemporaryFile::TemporaryFile(const char* stem) {
    std::string pattern = (std::filesystem::temp_directory_path() / (std::string(stem) + "-XXXXXX")).string();
    int fd = mkstemp(pattern.data());
    if (fd < 0) throw std::runtime_error(std::string("cannot create a temporary file: ") + strerror(errno));
    close(fd);
    path = pattern;
}

TemporaryFile::~TemporaryFile() { unlink(path.c_str()); }

ScratchFile::ScratchFile(const std::string& folder) {
    std::string name = (folder.empty() ? std::string(".") : folder) + "/.kelvo-pool-XXXXXX";
    int fd = mkstemp(name.data());
    if (fd < 0)
        throw std::runtime_error("cannot create a temporary file in " + (folder.empty() ? "." : folder) + ": " +
                                 strerror(errno));
    unlink(name.c_str());  // the file lives as long as it is open, and never outlives the build
    handle = fd;
}

ScratchFile::~ScratchFile() { close(static_cast<int>(handle)); }

bool ScratchFile::WriteAt(uint64_t offset, const uint8_t* data, size_t count) {
    for (size_t done = 0; done < count;) {
        ssize_t n = pwrite(static_cast<int>(handle), data + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool ScratchFile::ReadAt(uint64_t offset, uint8_t* buffer, size_t count) const {
    for (size_t done = 0; done < count;) {
        ssize_t n = pread(static_cast<int>(handle), buffer + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

InputFile::InputFile(const std::string& path, bool sparingTimes) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | (sparingTimes ? O_NOATIME : 0));
    if (fd < 0 && sparingTimes && errno == EPERM) fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);  // O_NOATIME needs ownership
    error = fd < 0 ? errno : 0;
    handle = fd;
}

InputFile::~InputFile() {
    if (handle != -1) close(static_cast<int>(handle));
}

bool InputFile::IsRegular(uint64_t* size) const {
    struct stat info;
    if (fstat(static_cast<int>(handle), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    *size = static_cast<uint64_t>(info.st_size);
    return true;
}

long InputFile::Read(uint8_t* buffer, size_t count) {
    for (;;) {
        ssize_t n = read(static_cast<int>(handle), buffer, count);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) error = errno;
        return static_cast<long>(n);
    }
}
