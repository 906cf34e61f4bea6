#include "common/helpers.h"
#include "common/memory.h"

static bool AllocateWithRetry(u32 size, bool zeroed, void** block) {
    *block = HeapBlock(size, zeroed);
    if (*block == nullptr) {
        CompactHeap();
        *block = HeapBlock(size, zeroed);
    }
    return *block != nullptr;
}

bool AllocateBlock(u32 size, void** block) { return AllocateWithRetry(size, false, block); }

bool AllocateZeroedBlock(u32 size, void** block) { return AllocateWithRetry(size, true, block); }

void ReleaseBlock(void** block) {
    if (*block != nullptr) {
        FreeHeapBlock(*block);
        *block = nullptr;
    }
}
