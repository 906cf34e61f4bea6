// Small helpers every subsystem uses: variable-length list walking, walking
// and backslash handling on paths, and the allocation pair with its one retry.
#pragma once
#include "common/types.h"

// Next entry of a list of variable-length records: each entry starts with its
// own size as an unsigned 16-bit value.
const u8* NextListEntry(const u8* entry);

// Paths and texts are in the system's ANSI code page. In its double-byte
// code pages (932, 936, 949, 950) a lead byte starts a two-byte character
// whose second byte may be a backslash or a letter: Shift-JIS "\x83\x5C" is
// one katakana, not a letter and a separator. So paths are walked a
// character at a time, and only a backslash that is a character of its own
// separates folders.

// True when `c` starts a two-byte character in the system's code page.
bool IsLeadByte(char c);
// The character after the one at `text`; `text` itself at the terminator. A
// lead byte right before the terminator counts as a character of its own.
const char* NextChar(const char* text);
inline char* NextChar(char* text) { return const_cast<char*>(NextChar(static_cast<const char*>(text))); }
// The first and the last backslash of `path`; null when it has none.
char* FirstBackslash(const char* path);
char* LastBackslash(const char* path);
// True when the last character of `path` is a backslash.
bool EndsWithBackslash(const char* path);
// The length of the longest part of `text` that has at most `limit` bytes
// and ends at a character's end: where a text may be cut.
u32 WholeCharacterLength(const char* text, u32 limit);
// Case-insensitive equality of two texts: letters A-Z fold, two-byte
// characters compare byte for byte (their second byte is no letter).
bool SameTextIgnoringCase(const char* a, const char* b);

#ifndef _WIN32
// Native builds have no system code page: tests choose the lead bytes as
// pairs of first and last byte ended by a zero, or none with a null list
// (the default).
void SetLeadByteRanges(const u8* ranges);
#endif

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
