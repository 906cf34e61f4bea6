// The name a TrueType font file gives itself, as the font registration
// reads it from the file's name table.
#pragma once
#include "common/types.h"

// Longest font name kept, in bytes; a name buffer holds one more.
const u32 FontNameLimit = 259;

// Puts into `name` the Macintosh full name (platform 1, name 4) of the font
// whose file contents are the `size` bytes at `font`, cut to FontNameLimit
// bytes; the empty text when it has none. Only the first 40 table records
// are looked at. Never reads outside the contents, whatever they hold.
void FindMacintoshFullName(const u8* font, u32 size, char* name);
