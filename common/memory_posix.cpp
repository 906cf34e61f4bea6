#include <stdlib.h>

#include "common/memory.h"

// malloc(0) may return null; the callers treat every size alike.
void* HeapBlock(u32 size, bool zeroed) {
    return zeroed ? calloc(size ? size : 1, 1) : malloc(size ? size : 1);
}

void FreeHeapBlock(void* block) { free(block); }

void CompactHeap() {}
