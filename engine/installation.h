// The installation of the current set, one file entry per call so the
// progress page keeps the window alive between entries.
#pragma once
#include "common/types.h"

// Prepares the engine and opens the file data; false (engineState 16,
// MessagePath naming the setup file) when it cannot be opened.
bool StartInstallation();
// Installs the next entry; false when the list is done or the entry failed
// (engineState then says why).
bool InstallNextEntry();
// Closes the file data, writes what follows a successful installation and
// moves the wizard on to the finish page.
void FinishInstallation();
// Ends an installation that was stopped between entries (cancelled, its
// window closed) as a cancelled one, its changes taken back; does nothing
// when none runs.
void AbandonInstallation();

// Asks for the disk that holds continuation volume `volume` (shown as disk
// volume + 1); false when the user cancels the installation.
bool AskForVolume(u32 volume);
