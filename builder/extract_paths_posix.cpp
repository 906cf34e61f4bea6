// Extraction places on POSIX systems: every folder is opened relative to
// its parent with O_NOFOLLOW, and files are made and renamed relative to
// their folder's descriptor.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "builder/extract_paths.h"

namespace {

const mode_t FolderMode = 0755;
const mode_t ExtractedFileMode = 0644;
const int TemporaryNameAttempts = 100;
const uint64_t FileTimeTicksPerSecond = 10000000;
const uint64_t FileTimeOfUnixEpoch = 116444736000000000ull;  // 1970 in ticks since 1601

// Opens `name` in `parent` as a folder, creating it when missing; never
// follows a symbolic link. `shown` names it in messages.
int OpenChildFolder(int parent, const std::string& name, const std::string& shown, std::string* why) {
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int fd = openat(parent, name.c_str(), flags);
    if (fd < 0 && errno == ENOENT) {
        if (mkdirat(parent, name.c_str(), FolderMode) != 0 && errno != EEXIST) {
            *why = "cannot create folder " + shown + ": " + strerror(errno);
            return -1;
        }
        fd = openat(parent, name.c_str(), flags);
    }
    if (fd >= 0) return fd;
    int error = errno;
    struct stat info;
    if (fstatat(parent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode))
        *why = "refusing to follow the symbolic link " + shown;
    else if (error == ENOTDIR)
        *why = shown + " exists and is not a folder";
    else
        *why = "cannot open folder " + shown + ": " + strerror(error);
    return -1;
}

}  // namespace

PlacedFolder::~PlacedFolder() {
    if (fd >= 0) close(static_cast<int>(fd));
}

std::string PlacedFolder::CheckTarget(const std::string& leaf, const std::string& shown) const {
    struct stat info;
    if (fstatat(static_cast<int>(fd), leaf.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return "";
    if (S_ISLNK(info.st_mode)) return "refusing to replace the symbolic link " + shown;
    if (S_ISDIR(info.st_mode)) return shown + " exists and is a folder";
    return "";
}

FileHandle PlacedFolder::CreateTemporary(std::string* name, std::string* why) const {
    for (int attempt = 0; attempt < TemporaryNameAttempts; attempt++) {
        *name = ".kelvo-part-" + std::to_string(getpid()) + "-" + std::to_string(attempt);
        int file = openat(static_cast<int>(fd), name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          ExtractedFileMode);
        if (file >= 0) return file;
        if (errno != EEXIST) break;
    }
    *why = std::string("cannot create a file: ") + strerror(errno);
    return NoFile;
}

std::string PlacedFolder::MoveIntoPlace(const std::string& temporary, const std::string& leaf) const {
    int folder = static_cast<int>(fd);
    if (renameat(folder, temporary.c_str(), folder, leaf.c_str()) == 0) return "";
    return std::string("cannot rename into place: ") + strerror(errno);
}

void PlacedFolder::Remove(const std::string& temporary) const { unlinkat(static_cast<int>(fd), temporary.c_str(), 0); }

void SetLastWriteTime(FileHandle file, uint64_t ticks) {
    if (ticks < FileTimeOfUnixEpoch) return;
    ticks -= FileTimeOfUnixEpoch;
    struct timespec stamps[2];
    stamps[0].tv_sec = 0;
    stamps[0].tv_nsec = UTIME_OMIT;
    stamps[1].tv_sec = static_cast<time_t>(ticks / FileTimeTicksPerSecond);
    stamps[1].tv_nsec = static_cast<long>(ticks % FileTimeTicksPerSecond * 100);
    futimens(static_cast<int>(file), stamps);
}

ExtractionFolder::ExtractionFolder(const std::string& path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (error) {
        problem = "cannot create " + path + ": " + error.message();
        return;
    }
    root.fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root.fd < 0) problem = "cannot open " + path + ": " + strerror(errno);
}

ExtractionFolder::~ExtractionFolder() = default;

bool ExtractionFolder::OpenSubfolder(const std::vector<std::string>& components, PlacedFolder* folder,
                                     std::string* why) const {
    int current = dup(static_cast<int>(root.fd));
    if (current < 0) {
        *why = std::string("cannot open the extraction folder: ") + strerror(errno);
        return false;
    }
    std::vector<std::string> walked;
    for (const std::string& component : components) {
        walked.push_back(component);
        int next = OpenChildFolder(current, component, JoinComponents(walked), why);
        close(current);
        if (next < 0) return false;
        current = next;
    }
    folder->fd = current;
    return true;
}
