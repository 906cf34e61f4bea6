// Undoing an installation that does not finish. When the archive asks for
// it (a Rollback record), every change the engine makes while it installs
// entries is noted as it is made; a cancelled or failed installation then
// takes them back, newest first, and a finished one keeps them and deletes
// the old files it had put aside. Without the record every call here does
// nothing.
//
// Only the entries' changes need notes: the uninstall log, the program-menu
// shortcuts, the set's INI and registry entries and the registrations are
// written after the last entry, and only when every entry succeeded.
#pragma once
#include <windows.h>

#include "common/types.h"

// A file (not there before) or a folder was created at `path`.
void NoteCreatedFile(const char* path);
void NoteCreatedFolder(const char* path);

// The file at `path` (its `attributes` as found), about to be replaced, is
// kept under a free name beside it until the installation ends. With
// `byRename` (the new file arrives by a rename) a second link to it serves
// where the volume has links; a file rewritten in place is copied. PutAside
// also when there is nothing to keep; PutAsideLater when another program
// holds the file so that it cannot be replaced now either (asked again
// before the next attempt); CannotPutAside when no copy can be made, and the
// caller then leaves the file as it is.
enum PutAsideResult { CannotPutAside, PutAside, PutAsideLater };
PutAsideResult PutAsideBeforeReplacing(const char* path, u32 attributes, bool byRename);
// The replacement did not happen after all: the kept copy of `path` goes.
void ForgetPutAside(const char* path);

// `temporary` is to replace `target` at the next restart.
void NoteRestartReplacement(const char* target, const char* temporary);

// The value `name` of `root\key` is about to change (or be made).
void NoteRegistryValue(HKEY root, const char* key, const char* name);

// The font file at `path` was added to the system's fonts.
void NoteFontAdded(const char* path);

// Takes back every noted change, newest first, and logs each.
void RollBack();
// The installation finished: the files put aside are deleted.
void KeepChanges();
