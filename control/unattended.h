// Runs without a person: the QUIET and PASSIVE options. Every question gets
// its documented answer, nothing needs a person afterwards, and the exit
// code says how it went, in the codes administrators know from MSI.
#pragma once

const int ExitSuccess = 0;
const int ExitRestartNeeded = 3010;   // done; a restart completes it (NORESTART)
const int ExitRestartStarted = 1641;  // done; setup restarted the system
const int ExitCancelled = 1602;
const int ExitFailed = 1603;          // a file could not be written, damaged data, ...
const int ExitSetupRunning = 1618;    // another copy of this setup is running
const int ExitInvalidCommandLine = 1639;
const int ExitNotEnoughSpace = 112;   // the system's "disk full"

// Applies INSTALLSET and TARGET to the loaded archive: the set becomes the
// current one, the folder its destination. Returns null, or the reason a
// value cannot be used; then nothing of that value is applied, and a person
// is told so in a message box.
const char* ApplyStartingValues();

// Checks and creates the destination, installs the current set with the
// progress window (PASSIVE) or with no window (QUIET) and ends as a run
// without a person ends. Returns the exit code; `*reason` says why.
int RunUnattendedInstallation(const char** reason);
