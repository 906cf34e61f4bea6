// The platform's heap, beneath the allocation helpers.
#pragma once
#include "common/types.h"

void* HeapBlock(u32 size, bool zeroed);
void FreeHeapBlock(void* block);
// Gives free memory back to the heap before an allocation is retried.
void CompactHeap();
