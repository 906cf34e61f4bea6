// Removing what the uninstall log lists, and nothing else.
#pragma once
#include <windows.h>

#include "common/types.h"
#include "uninstall/uninstall_log.h"

struct RemovalRun {
    const UninstallData* data;
    bool silent;          // started with "/X": no questions, no report
    HWND window;          // the progress window, owner of the questions; may be null
    bool leftForRestart;  // a file in use was scheduled for removal at the next restart
    u32 refused;          // records that named a place outside the allowed ones
};

// Files (with their shared counts, fonts and registrations), shortcuts,
// empty folders, registry values and profile entries, and the uninstall
// key, in that order; every shared file is decided on and every library
// unregistered before the first file goes. InitPlaces first.
void RemoveLoggedItems(RemovalRun* run);

// Shows "Removing <what>" in the progress window and moves its bar on.
void ShowRemoving(const RemovalRun* run, const char* what);

// Deletes `path`; a file in use (or one that cannot be deleted yet) is left
// for the next restart and the run notes it. A missing file is not an error.
void DeleteOrSchedule(RemovalRun* run, const char* path);

// `format` into `buffer` with its first "%s" replaced by `name` and "%%"
// by "%"; no other sequence is read. Cut to `capacity`.
void FillText(char* buffer, u32 capacity, const char* format, const char* name);
// Number of records in a list body (its u32 count); 0 when missing.
u32 RecordCount(const u8* body, u32 length);
