// The journal of a run's temporary files. Each file the engine creates
// beside a destination (under a temporary extension) is noted in a small
// journal in the temporary folder before anything else happens to it; a run
// that ends by any route but a kill removes or moves those files itself and
// deletes its journal. A run that was killed leaves its journal, and the
// next run of any setup removes the files it names (those still there), so
// nothing but a file this program created is ever deleted. Files handed to
// the restart operations are noted as kept and never removed.
#pragma once

// Removes what an earlier killed run left (its journal, which no running
// setup holds open), then starts this run's journal in its place. Without
// a journal (no temporary folder, another setup running) the run goes on
// without one.
void OpenLeftoverJournal();

// `path` is about to be created, or was just created, by this run.
void NoteTemporaryFile(const char* path);

// `path` now belongs to the restart operations, or was someone else's after
// all: never remove it.
void KeepTemporaryFile(const char* path);

// The run has ended (its temporary files are gone or handed over).
void CloseLeftoverJournal();
