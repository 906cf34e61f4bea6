// A slow, plain decoder of the archive's compressed streams, written to be
// read rather than to be fast, so tests and the fuzzer can hold the real
// decoder's results against it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// Results, numbered like the real decoder's statuses where they mean the same.
enum ReferenceResult {
    ReferenceOk = 0,
    ReferenceBadData = 1,     // bad counts, repeat past the end, incomplete code,
                              // invalid symbol or distance, use of an empty code
    ReferenceBadBlock = 2,    // block kinds 0-4, an over-subscribed code
    ReferenceInputEnded = 4,  // the input ended inside the stream
    ReferenceTooLong = 5,     // the output would pass maxOut bytes
};

// Decodes the stream at `in` into `out` (replaced). Bytes after the last
// block are ignored. Returns a ReferenceResult: 0 only when the whole stream
// decoded into at most `maxOut` bytes.
int ReferenceInflate(const uint8_t* in, size_t inSize, std::vector<uint8_t>& out, size_t maxOut);
