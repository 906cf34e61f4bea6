#include "builder/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

const uint64_t MaxFileSize = 0xFFFFFFFFu;
const size_t ReadBlockSize = 65536;

[[noreturn]] void Throw(const std::string& what, const std::string& path, int error) {
    throw FileReadError(what + " " + path + ": " + strerror(error), error);
}

}  // namespace

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOATIME);
    if (fd < 0 && errno == EPERM) fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);  // O_NOATIME needs ownership
    if (fd < 0) Throw("cannot open", path, errno);
    struct stat info;
    std::vector<uint8_t> data;
    if (fstat(fd, &info) == 0) {
        if (static_cast<uint64_t>(info.st_size) > MaxFileSize) {
            close(fd);
            throw FileReadError(path + " is 4 GB or larger", EFBIG);
        }
        data.reserve(static_cast<size_t>(info.st_size));
    }
    uint8_t block[ReadBlockSize];
    ssize_t n;
    while ((n = read(fd, block, sizeof block)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0) data.insert(data.end(), block, block + n);
    int readError = n < 0 ? errno : 0;
    close(fd);
    if (readError != 0) Throw("cannot read", path, readError);
    return data;
}
