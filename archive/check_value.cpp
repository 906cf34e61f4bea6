#include "archive/check_value.h"

#include "common/helpers.h"

static inline u32 RotateLeft1(u32 a) { return (a << 1) | (a >> 31); }

u32 RotateAddCheck(const void* data, u32 length, u32 start) {
    const u8* p = static_cast<const u8*>(data);
    u32 a = start;
    u32 words = length / 4;
    for (u32 i = 0; i < words; i++, p += 4) {
        u32 word = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<u32>(p[3]) << 24);
        a = RotateLeft1(a) + word;
    }
    for (u32 i = 0; i < length % 4; i++) a = RotateLeft1(a) + p[i];
    return a;
}

bool CheckFile(FileHandle file, u32* value) {
    u32 remaining = FileSize(file);
    u8* block = nullptr;
    if (remaining == SeekFailed || !AllocateBlock(CheckBlockSize, &block)) return false;
    u32 a = 0;
    while (remaining > 0) {
        u32 n = remaining < CheckBlockSize ? remaining : CheckBlockSize;
        if (!ReadExactly(file, block, n)) break;
        a = RotateAddCheck(block, n, a);
        remaining -= n;
    }
    ReleaseBlock(&block);
    *value = a;
    return remaining == 0;
}
