#include "builder/memory_source.h"

#include <string.h>

static i32 ReadMemoryInput(void* context, u8* buffer, u32 want) {
    MemoryInput& m = *static_cast<MemoryInput*>(context);
    if (m.position >= m.failAfter) return -1;
    u32 count = m.size - m.position;
    if (count > want) count = want;
    if (count > m.failAfter - m.position) count = m.failAfter - m.position;
    if (count != 0) memcpy(buffer, m.data + m.position, count);
    m.position += count;
    return static_cast<i32>(count);
}

static void UnreadMemoryInput(void* context, u32 count) { static_cast<MemoryInput*>(context)->position -= count; }

InflateSource MemoryInflateSource(MemoryInput& input, u32 limit) {
    InflateSource source = {ReadMemoryInput, UnreadMemoryInput, &input, limit, limit != 0};
    return source;
}
