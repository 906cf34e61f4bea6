// Encoder of the archive's compressed streams.
//
// The archive's format is RFC 1951 DEFLATE with a 4-bit block header (kind in
// bits 0-2: 5 fixed, 6 dynamic, 7 stored; bit 3 the last-block flag), stored
// blocks without the complemented length, and the code-length code lengths of
// a dynamic header sent in the order 18, 17, 16, 0, 1, ..., 15. Everything
// else -- the Huffman codes, the symbols, the matches -- is plain DEFLATE.
//
// So rather than owning a match finder, the encoder lets libdeflate compress
// to standard raw DEFLATE and rewrites the result block by block. The symbol
// data is copied bit for bit, which keeps libdeflate's compression ratio.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// Blocks of each kind written. The functions below add to these counts (only
// when they succeed), so one EncodeStats can total a whole archive.
struct EncodeStats {
    uint64_t storedBlocks = 0;
    uint64_t fixedBlocks = 0;
    uint64_t dynamicBlocks = 0;
};

const int MaxDeflateLevel = 12;
const int DefaultDeflateLevel = 9;

// Compresses `size` bytes at `level` (libdeflate's scale: 0 writes stored
// blocks only, 1 fastest, 6 default, 12 smallest). Empty input gives a valid
// stream of one empty block. Throws std::invalid_argument for a level outside
// 0..12 and std::runtime_error when the compressor cannot be had.
std::vector<uint8_t> EncodeStream(const uint8_t* data, size_t size, int level,
                                  EncodeStats* stats = nullptr);

// Rewrites a standard raw DEFLATE stream (no zlib or gzip wrapper) into the
// archive's format, replacing `out`. Bytes after the final block are ignored.
// Returns false when the input is not a valid stream: a reserved block type,
// a stored length whose complement does not match, an over-subscribed code,
// an incomplete code other than a single one-bit code, an invalid symbol or
// distance, or input that ends inside a block.
bool TranscodeRawDeflate(const uint8_t* in, size_t inSize, std::vector<uint8_t>& out,
                         EncodeStats* stats = nullptr);
