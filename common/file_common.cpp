#include "common/file.h"

bool ReadExactly(FileHandle file, void* buffer, u32 count) {
    u32 got = 0;
    return ReadFromFile(file, buffer, count, &got) && got == count;
}
