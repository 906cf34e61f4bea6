// Texts on screen may be written in another code page than the system's: a
// setup's texts are in the code page its archive names. On NT such texts are
// converted and shown through the wide-character calls; on Windows 95/98,
// and when the code pages agree, the ANSI calls take them as they are.
#pragma once
#include "common/types.h"

// The code page of the texts shown; 0 for the system's.
extern u32 displayCodePage;

// Copies `path`, in the system's code page, into `out` (`capacity` bytes) in
// displayCodePage, so that it can stand inside a shown text. A character the
// display code page lacks becomes its default character.
void PathForDisplay(const char* path, char* out, u32 capacity);
