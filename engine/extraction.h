// Writing one file entry: the version and language questions, the new
// contents under a temporary name beside the destination (from the file
// data, a copy beside the setup, a delta against another entry, or the
// uninstaller's prefix and data), their check, and the move into place.
#pragma once
#include "archive/records.h"
#include "common/file.h"
#include "common/types.h"

// Extensions of the temporary files: the contents being produced, and the
// result of a delta built beside them.
extern const char ProducedExtension[];  // ".$$A"
extern const char DeltaExtension[];     // ".$AA"

// Replaces the extension of the file name in `path` (from its last '.'
// after the last backslash) with `extension`, or appends it.
void SetExtension(char* path, const char* extension);

// A free name for a file another call creates (a copy, a delta's output, an
// old file kept aside): `from` with `extension`, its last character counted
// up while the name is taken; noted in the journal. False when the name does
// not fit or every value up to 0xFF is taken; `name` then holds the last
// name tried, or `from` cut to fit.
bool MakeFreeName(char* name, const char* from, const char* extension);

// Gives the open `file` (opened with DELETE access on NT) a second name, a
// free one made as MakeFreeName makes it, noted in the journal first. False
// where links cannot be made (Windows 95/98, FAT) or no name is free.
bool LinkFreeName(FileHandle file, char* name, const char* from, const char* extension);

// True when the file at WorkPath is to be written: asks when the existing
// file is newer (message 29) or of another language (message 30).
bool CheckVersionRules(const FileEntry* entry);

// Makes a free temporary name beside WorkPath in ScratchPath and writes and
// checks the entry's contents there. False with engineState (and, where it
// names a file, MessagePath) set; ScratchPath then names the file to delete,
// or is empty when no file of this entry was created. Contents decoded here
// leave their file open in scratchFile for ReplaceDestination to move;
// CloseScratchFile closes it for any other use of the file.
bool ProduceEntryContents(const FileEntry* entry, u32 startPercent, u32 endPercent);
void CloseScratchFile();

// Builds the entry's contents from `baseFile` and the entry's delta streams
// and leaves them under baseFile's name. Moves the progress bar within
// startPercent..endPercent as the output grows.
bool ApplyDelta(const FileEntry* entry, const char* baseFile, u32 startPercent, u32 endPercent);

// Where a delta entry's progress goes: SetProgressPercent. A variable so the
// tests can follow every step.
extern void (*showDeltaProgress)(u32 percent);

// Puts `temporaryFile` in place at WorkPath and sets the entry's outcome;
// asks the user when the old file is locked (in use, shared or denied).
// When the move itself fails the temporary file is deleted and the outcome
// stays FileNotReplaced, which the driver reports as error 22.
void ReplaceDestination(FileEntry* entry, const char* temporaryFile);

// Leaves `temporaryFile` to replace WorkPath at the next restart.
void ReplaceAtRestart(const char* temporaryFile);

// What to do with a destination that cannot be deleted: IDABORT, IDRETRY
// or IDIGNORE (3, 4, 5).
i32 HandleLockedDestination(FileEntry* entry, const char* temporaryFile);
