// The 32-bit check value of installed file contents: whole little-endian
// words first, each added to the running value rotated left by one bit, then
// the 0..3 remaining bytes one at a time the same way.
#pragma once
#include "common/file.h"

u32 RotateAddCheck(const void* data, u32 length, u32 start);

const u32 CheckBlockSize = 16384;

// Computes the value over a file opened for reading and positioned at its
// start, in blocks of CheckBlockSize bytes. Returns false when the file cannot
// be read to its end (or no block buffer can be had): a value over partial
// contents is never reported as the file's.
bool CheckFile(FileHandle file, u32* value);
