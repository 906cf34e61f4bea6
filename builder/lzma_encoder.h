// Packs solid blocks: the LZMA SDK's encoder, one block per call, after the
// x86 branch converter where the block is mostly x86 programs. Calls on
// different blocks may run on different threads at once.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

const int MinLzmaLevel = 1;
const int MaxLzmaLevel = 9;
const int DefaultLzmaLevel = 9;

struct LzmaSettings {
    uint32_t dictionary;  // bytes
    int level;            // MinLzmaLevel..MaxLzmaLevel
};

// The lc/lp/pb byte (lc + 9 (lp + 5 pb)) a block is packed with: LZMA's
// defaults (lc 3, lp 0, pb 2), and for converted x86 code lc 1, pb 0, which
// measure about 1% smaller there.
uint8_t LzmaPropertiesFor(bool convertBranches);

// Level 1 packs fastest; 9 smallest, with the largest dictionary:
//   level       1    2    3    4    5    6     7     8     9
//   dictionary  1M   2M   4M   4M   8M   8M    16M   32M   64M
// Throws std::invalid_argument outside MinLzmaLevel..MaxLzmaLevel.
LzmaSettings LzmaSettingsForLevel(int level);

// True when `data` is a PE image for x86 or x64, whose branches the
// converter makes more alike.
bool IsX86Program(const uint8_t* data, size_t size);

// A raw LZMA stream of `size` bytes (no header, no end mark), as the setup
// program's blocks hold them, with LzmaPropertiesFor(convertBranches); with
// `convertBranches`, of the bytes after the x86 branch converter. `progress` (optional) receives input bytes as they
// are packed. Throws std::runtime_error when the encoder fails (no memory).
std::vector<uint8_t> PackLzmaBlock(const uint8_t* data, size_t size, const LzmaSettings& settings,
                                   bool convertBranches, const std::function<void(uint64_t)>& progress = {});
