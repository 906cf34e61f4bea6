// The one InflateSource over bytes in memory: kelvo's decode command and
// delta streams read through it, and so do the tests and the benchmarks. It
// can be told to fail (return -1) from a position on, to stand in for a file
// or volume that stops being readable.
#pragma once
#include "archive/inflater.h"

struct MemoryInput {
    const u8* data = nullptr;
    u32 size = 0;
    u32 position = 0;     // next byte to hand out
    u32 failAfter = ~0u;  // reads at or past this position return -1
};

// The decoder's source over `input`, taking at most `limit` bytes of it
// when `limit` is not 0.
InflateSource MemoryInflateSource(MemoryInput& input, u32 limit = 0);
