#include "builder/whole_file.h"

#include <cerrno>
#include <cstring>

#include "builder/host_system.h"

namespace {

const uint64_t MaxFileSize = 0xFFFFFFFFu;
const size_t ReadBlockSize = 65536;

[[noreturn]] void Throw(const std::string& what, const std::string& path, int error) {
    throw FileReadError(what + " " + path + ": " + strerror(error), error);
}

}  // namespace

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    InputFile file(path, true);
    if (!file.IsOpen()) Throw("cannot open", path, file.Error());
    std::vector<uint8_t> data;
    uint64_t size = 0;
    if (file.IsRegular(&size)) {
        if (size > MaxFileSize) throw FileReadError(path + " is 4 GB or larger", EFBIG);
        data.reserve(static_cast<size_t>(size));
    }
    uint8_t block[ReadBlockSize];
    long n;
    while ((n = file.Read(block, sizeof block)) > 0) data.insert(data.end(), block, block + n);
    if (n < 0) Throw("cannot read", path, file.Error());
    return data;
}
