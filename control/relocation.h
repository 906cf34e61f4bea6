// Setup started from a removable disk hands over to a copy of its program
// part in the temporary folder, so the disk can be changed while it runs.
#pragma once
#include "common/types.h"

// Longest name tried for the copy: _inst1.exe to _inst998.exe.
const u32 LastCopyNumber = 998;
// Room for the copy's path, the switches and the quoted setup path.
const u32 RelocationCommandCapacity = 2 * 260 + 16;

// True when `ownFile` lies on a removable drive. A network path (two
// leading backslashes) is tested as a whole and never counts as removable.
bool IsOnRemovableDisk(const char* ownFile);

// The copy's command line: `copy` /S"`source`" /DEL, with `copy` quoted
// when it holds a blank.
void FormatRelocationCommand(char* command, const char* copy, const char* source);

// Copies the program part of SourcePath (ArchiveOffset bytes) to the next
// free _inst<n>.exe in the temporary folder (its path in ScratchPath) and
// starts it with the S and DEL options. True when the copy was started and
// this run must end; false when setup must go on from the disk.
bool RelocateToTemporaryFolder(int showCommand);
