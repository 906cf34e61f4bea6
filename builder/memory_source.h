// The one InflateSource over bytes in memory: kelvo's decode command and
// delta streams read through it, and so do the tests, the fuzzers and the
// benchmarks. It can be told to fail (return -1) from a position on, to
// stand in for a file or volume that stops being readable, and to hand out
// only a few bytes a read, so refills happen at many points of a stream.
// Handing back more bytes than were read is a decoder fault: it aborts.
// Header-only, so the fuzzers, which link no kelvo code, use it too.
#pragma once
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "archive/inflater.h"

struct MemoryInput {
    const u8* data = nullptr;
    u32 size = 0;
    u32 position = 0;       // next byte to hand out
    u32 failAfter = ~0u;    // reads at or past this position return -1
    u32 mostPerRead = ~0u;  // bytes one read hands out at the most
};

inline i32 ReadMemoryInput(void* context, u8* buffer, u32 want) {
    MemoryInput& m = *static_cast<MemoryInput*>(context);
    if (m.position >= m.failAfter) return -1;
    u32 count = m.size - m.position;
    if (count > want) count = want;
    if (count > m.mostPerRead) count = m.mostPerRead;
    if (count > m.failAfter - m.position) count = m.failAfter - m.position;
    if (count != 0) memcpy(buffer, m.data + m.position, count);
    m.position += count;
    return static_cast<i32>(count);
}

inline void UnreadMemoryInput(void* context, u32 count) {
    MemoryInput& m = *static_cast<MemoryInput*>(context);
    if (count > m.position) {
        fprintf(stderr, "decoder handed back %u bytes but only %u were read\n", count, m.position);
        abort();
    }
    m.position -= count;
}

// The decoder's source over `input`, taking at most `limit` bytes of it
// when `limit` is not 0.
inline InflateSource MemoryInflateSource(MemoryInput& input, u32 limit = 0) {
    InflateSource source = {ReadMemoryInput, UnreadMemoryInput, &input, limit, limit != 0};
    return source;
}
