// Folders and files the system names: the temporary folder, the program's
// own file, the shell's folders. The programs work with ANSI paths, but a
// user's profile may hold characters the ANSI code page lacks (a Cyrillic
// user name on a Western system); the ANSI calls put '?' for them and give
// a path that does not exist. On NT the name is therefore asked for in
// UTF-16 and, when a character has no ANSI form, its short (8.3) form is
// used instead, whose characters all have one. Windows 95 and 98 name
// everything in the ANSI code page and keep the ANSI calls.
#pragma once
#include "common/types.h"

// `path` (PathCapacity bytes) = `wide` in the ANSI code page, or its short
// form when a character has no ANSI form. False (with an empty path) when
// neither fits or the short form too has a character without one.
bool PutAnsiPath(const wchar_t* wide, char* path);

// Each fills `path` (PathCapacity bytes); false, with an empty path, when
// the system gives no usable name.
// The temporary folder, with its trailing backslash.
bool GetTempFolderPath(char* path);
// The running program's own file.
bool GetOwnProgramPath(char* path);
// The shell folder `csidl` (CSIDL_DESKTOP, CSIDL_PROGRAMS, ...).
bool GetShellFolderPath(int csidl, char* path);
