// File operations carried out at the next restart: replacing a file that is
// in use, or deleting one (the setup program's own copy, a replaced file).
#pragma once
#include "common/types.h"

// At the next restart, moves `source` onto `target`, replacing it, or deletes
// `source` when `target` is null. Callers pass existing files. NT records the
// operation with MoveFileEx; Windows 95/98 gets a line in the [Rename]
// section of WININIT.INI. Fails quietly; it does not set restartNeeded.
void ScheduleAtRestart(const char* target, const char* source);

// Takes back the replacement of `target` by `source` scheduled above, when
// it is still there; `source` itself is left for the caller.
void CancelAtRestart(const char* target, const char* source);

// The scan behind a deletion on Windows 95/98, exposed for tests.
//
// A deletion is first written as "xyz=<short source>" and then renamed to
// "NUL=" in place, because the profile functions keep only one value per key
// and every deletion needs a "NUL=" line of its own.
//
// Returns the offset of the first "xyz=" in `data` (file order, section not
// examined) that is followed by `shortSource` byte for byte, or
// PlaceholderNotFound. Only starts before length - 4 are tried. `data` must
// have `length` + PlaceholderSpare readable bytes; the comparison never reads
// beyond them, so a source running past the end of the file compares against
// the spare bytes, which the caller zeroes so they never match.
const u32 PlaceholderSpare = 512;
const u32 PlaceholderNotFound = 0xFFFFFFFFu;
u32 FindPlaceholder(const char* data, u32 length, const char* shortSource);
