// The spine of a setup run: start-up, the wizard, the end of the run.
#pragma once
#include <windows.h>

// Exit codes of the setup program run by a person (control/unattended.h
// has those of a run without one).
const int SetupEnded = 0;
const int SetupCannotRun = -1;  // no loadable archive or no main window

// Runs setup with the command line after the program name.
int RunSetup(HINSTANCE instance, const char* commandLine, int showCommand);

// Reads the archive from SourcePath and works out every set's destination.
// False when setup cannot run; only a setup whose file contents are missing
// tells the user so (message 31).
bool LoadSetupScript();

// Shows the main window and the frame, in full screen or windowed, and runs
// the page loop until the wizard ends.
void RunWizard(bool fullScreen);

// Restarts the system (on NT with the shutdown privilege it needs).
void RestartSystem();
