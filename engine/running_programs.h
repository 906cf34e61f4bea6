// Starting a program and waiting for it, as the removal of earlier
// installations does with their uninstallers.
#pragma once
#include <windows.h>

#include "common/types.h"

// Starts `program` (its path quoted) with `arguments`; *process receives the
// process handle, which the caller closes. False (and *process null) when
// memory or the start fails.
bool RunProgram(const char* program, const char* arguments, HANDLE* process);
// True while the process has not ended.
bool IsStillRunning(HANDLE process);
// Runs and waits for the uninstallers of the other sets' earlier
// installations.
void RunEarlierUninstallers();
