// The setup program's command line: the options after the program name.
// Each option is a switch character (- or /) and a word; the first letter
// of the word decides, in any case, and the rest of the word is free
// (/DEL and /DELETE are one option), up to an '=' that starts a value:
//
//   /DEL            delete this file at the next restart
//   /S path         read the archive from `path` instead of this file; the
//   /S"a path"      path may follow the letter directly or after blanks, and
//                   may be quoted (to the next quote or the end of the line)
//   /QUIET          unattended: no window at all
//   /PASSIVE        unattended: the progress window only
//   /TARGET=folder  the destination folder
//   /INSTALLSET=n   the install set, by number (as kelvo list counts them)
//                   or by display name
//   /NORESTART      never restart; report the need in the exit code
//   /LOG=file       write a log of the run
//
// A value goes to the next blank, or is quoted: /TARGET="C:\My Programs".
// Letters no option starts with are passed over, and parsing stops at the
// first word that does not start with - or /.
#pragma once
#include "engine/run_options.h"

// Reads `text` (the command line without the program name) into `options`,
// which it clears first. The S option replaces SourcePath (at most
// PathCapacity - 1 characters are kept, as for every value).
void ReadCommandLine(const char* text, RunOptions* options);
