// kelvo's inspection commands: list, verify, extract and dump. Each opens the
// setup through LoadedSetup (the setup program's own loader), writes its
// report to `out` and its errors, as "kelvo: error: ..." lines, to `err`,
// and returns the exit status: CommandSucceeded, or CommandFailed on any
// fault. They run in-process, so tests call them directly.
#pragma once
#include <cstdint>
#include <iosfwd>
#include <string>

#include "builder/exit_status.h"

// A readable table of the setup: its sets, their files and folders, INI,
// registry and patch entries, and totals.
int ListSetup(const std::string& setupPath, std::ostream& out, std::ostream& err);

// Decodes every stored entry of every set, across all volumes, and compares
// its size and check value.
int VerifySetup(const std::string& setupPath, std::ostream& out, std::ostream& err);

// Writes one set's files and folders under `directory`:
//   set-folder entries     DIRECTORY/<name, each backslash a folder>
//   Windows folder         DIRECTORY/<windows>/<name>
//   system folder          DIRECTORY/<system>/<name>
//   fonts folder           DIRECTORY/<fonts>/<name>
// Nothing is ever written outside `directory`: unsafe names refuse the whole
// set before anything is written, and symbolic links inside it are never
// followed.
struct ExtractOptions {
    std::string setupPath;
    std::string directory;
    uint32_t set = 0;
};
int ExtractSetup(const ExtractOptions& options, std::ostream& out, std::ostream& err);

// Every record of the setup as one JSON document, for debugging.
int DumpSetup(const std::string& setupPath, std::ostream& out, std::ostream& err);

// "kelvo: error: MESSAGE" on its own line.
void ReportError(std::ostream& err, const std::string& message);
