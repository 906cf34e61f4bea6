// Where the appended archive starts in the setup file.
#pragma once
#include "common/types.h"

// The six bytes that precede the archive offset in the program's initialised
// data, where the build tool finds and patches it.
const u8 ArchiveOffsetMarker[6] = {0x77, 0x77, 0x67, 0x54, 0x29, 0x48};

// File offset of the archive, which is the length of the executable part;
// 0 when no archive is appended.
u32 ArchiveOffset();
