// Bytes wrapped in stored blocks of the archive's compressed format: the
// decoder takes them like any other stream, so tests can put file contents
// into an archive without an encoder.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// Each block: a 4-bit header (kind 7 = stored, bit 3 on the last block) and
// 4 bits of padding in one byte, a 16-bit length, then the bytes.
inline std::vector<uint8_t> StoredStream(const std::vector<uint8_t>& bytes, size_t blockSize = 0xFFFF) {
    std::vector<uint8_t> stream;
    size_t at = 0;
    do {
        size_t length = bytes.size() - at < blockSize ? bytes.size() - at : blockSize;
        bool last = at + length == bytes.size();
        stream.push_back(last ? 0x0F : 0x07);
        stream.push_back(static_cast<uint8_t>(length));
        stream.push_back(static_cast<uint8_t>(length >> 8));
        stream.insert(stream.end(), bytes.begin() + at, bytes.begin() + at + length);
        at += length;
    } while (at < bytes.size());
    return stream;
}
