// The one reader of whole files in kelvo: sources, pictures, templates,
// programs and the streams of encode and decode.
#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// A file that cannot be read. what() is "cannot open PATH: REASON",
// "cannot read PATH: REASON" or "PATH is 4 GB or larger"; `error` is the
// system's error number (EFBIG for the last).
class FileReadError : public std::runtime_error {
public:
    FileReadError(const std::string& message, int error) : std::runtime_error(message), error(error) {}
    int error;
};

// The whole contents of `path`, read without touching its access time where
// the system allows, so a build never changes the times it may record.
// Throws FileReadError.
std::vector<uint8_t> ReadWholeFile(const std::string& path);
