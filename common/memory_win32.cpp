// The process heap for the setup program, and the few C++ runtime hooks the
// program needs so that it links without the C++ support library.
#include <windows.h>

#include "common/memory.h"

void* HeapBlock(u32 size, bool zeroed) {
    return HeapAlloc(GetProcessHeap(), zeroed ? HEAP_ZERO_MEMORY : 0, size);
}

void FreeHeapBlock(void* block) { HeapFree(GetProcessHeap(), 0, block); }

void CompactHeap() { HeapCompact(GetProcessHeap(), 0); }

// The build tool keeps the C++ runtime's own (KELVO_STANDARD_CXX_RUNTIME).
#ifndef KELVO_STANDARD_CXX_RUNTIME
void* operator new(size_t size) { return HeapBlock(static_cast<u32>(size), false); }
void* operator new[](size_t size) { return HeapBlock(static_cast<u32>(size), false); }
void operator delete(void* block) noexcept {
    if (block) FreeHeapBlock(block);
}
void operator delete[](void* block) noexcept {
    if (block) FreeHeapBlock(block);
}
void operator delete(void* block, size_t) noexcept {
    if (block) FreeHeapBlock(block);
}
void operator delete[](void* block, size_t) noexcept {
    if (block) FreeHeapBlock(block);
}

extern "C" void __cxa_pure_virtual() { ExitProcess(3); }
#endif
