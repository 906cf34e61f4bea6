// How a run of the setup program was asked to work: the options of its
// command line beyond the archive's own. Portable, so the command line is
// read and tested natively.
#pragma once
#include "common/paths.h"
#include "common/types.h"

// Who answers the questions: a person at the wizard, or nobody (the QUIET
// option shows no window at all, PASSIVE the progress window only).
enum RunMode : u8 { InteractiveRun = 0, QuietRun = 1, PassiveRun = 2 };

struct RunOptions {
    RunMode mode;
    bool deleteSelf;  // DEL: this copy deletes its own file at the next restart
    bool noRestart;   // NORESTART: never restart; the exit code tells the need
    bool invalid;     // an option that needs a value came without one
    char target[PathCapacity];      // TARGET: the destination folder, or empty
    char installSet[PathCapacity];  // INSTALLSET: a set's number or display name, or empty
    char logFile[PathCapacity];     // LOG: where the log goes, or empty
};
