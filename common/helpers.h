// Small helpers every subsystem uses: variable-length list walking, backslash
// handling on paths, and the allocation pair with its one retry.
#pragma once
#include "common/types.h"

// Next entry of a list of variable-length records: each entry starts with its
// own size as an unsigned 16-bit value.
const u8* NextListEntry(const u8* entry);

// Appends a backslash to a non-empty path that does not already end in one.
void AppendBackslash(char* path);
// Removes a trailing backslash from a path longer than three characters, so a
// drive root such as "C:\" keeps its backslash.
void RemoveTrailingBackslash(char* path);

// Allocates `size` bytes into *block; when the heap refuses, it is compacted
// and the allocation tried once more. Returns false when both attempts fail.
bool AllocateBlock(u32 size, void** block);
bool AllocateZeroedBlock(u32 size, void** block);
// Releases *block (a null block is left alone) and sets it to null.
void ReleaseBlock(void** block);

// Typed wrappers so callers need no casts.
template <typename T> inline bool AllocateBlock(u32 size, T** block) {
    return AllocateBlock(size, reinterpret_cast<void**>(block));
}
template <typename T> inline bool AllocateZeroedBlock(u32 size, T** block) {
    return AllocateZeroedBlock(size, reinterpret_cast<void**>(block));
}
template <typename T> inline void ReleaseBlock(T** block) {
    ReleaseBlock(reinterpret_cast<void**>(block));
}
