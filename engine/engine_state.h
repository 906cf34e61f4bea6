// The installation engine's program-wide state, read by the progress and
// finish pages and the end of the run.
#pragma once
#include "archive/records.h"
#include "common/types.h"

// Error states: each is also the number of the message (table 6) that
// reports it, with MessagePath for its "%s".
enum EngineError : i32 {
    NoEngineError = 0,
    EngineOutOfMemory = 12,
    InstallationDeclined = 15,  // the user would not insert the next disk
    CannotOpenFile = 16,
    CannotCreateFile = 17,
    FileDataDamaged = 18,
    CannotWriteFile = 19,
    DiskFull = 20,
    CheckValueMismatch = 21,
    AccessDenied = 22,
    CopyFromSourceFailed = 1000,  // systemError holds the system's code
};

// FileEntry.outcome: what the engine did with an entry; 23, 25 and 27 are
// also the numbers of the messages that name them.
enum EntryOutcome : u16 { NotInstalled = 0, FileReplaced = 23, FileNew = 25, FileNotReplaced = 27 };

extern i32 engineState;
extern u32 systemError;
extern i32 entryIndex;       // the entry handled last; -1 before the first
extern FileEntry* nextEntry;  // the entry the next step handles
extern bool engineRunning;
