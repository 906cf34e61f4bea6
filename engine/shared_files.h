// Files the system shares between products: the count of a shared library,
// fonts (with the name a TrueType file gives itself, read from its name
// table) and libraries that register themselves.
#pragma once
#include "common/types.h"

// Counts the file at `path` once more among the shared libraries.
void CountSharedLibrary(const char* path);
// Makes the font file at `path` known to the system.
void RegisterFont(const char* path);
// Calls the registration entry of every self-registering library of the set.
void SelfRegisterLibraries();

// Longest font name kept, in bytes; a name buffer holds one more.
const u32 FontNameLimit = 259;

// Puts into `name` the Macintosh full name (platform 1, name 4) of the font
// whose file contents are the `size` bytes at `font`, cut to FontNameLimit
// bytes; the empty text when it has none. Only the first 40 table records
// are looked at. Never reads outside the contents, whatever they hold.
void FindMacintoshFullName(const u8* font, u32 size, char* name);
