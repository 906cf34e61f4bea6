// The file a fuzz target hands its input to the code under test through:
// in memory (/dev/shm), one per target and process, so fuzzers running side
// by side never share one. No test framework: fuzz targets link only the
// portable core.
#pragma once
#include <stdint.h>
#include <stdio.h>
#include <unistd.h>

#include <string>

inline std::string FuzzScratchFile(const char* target) {
    return std::string("/dev/shm/kelvo-") + target + "-fuzz-" + std::to_string(getpid());
}

// Writes `head` (`headSize` bytes, may be none) and then the input to
// `path`; false when the file cannot be written.
inline bool WriteFuzzInput(const std::string& path, const void* head, size_t headSize, const uint8_t* data,
                           size_t size) {
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    bool written = fwrite(head, 1, headSize, file) == headSize && fwrite(data, 1, size, file) == size;
    return fclose(file) == 0 && written;
}
