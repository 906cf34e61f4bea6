// The setup program's command line: the options after the program name.
//
//   /DEL          delete this file at the next restart (any case, - or /,
//                 more letters may follow: /DELETE)
//   /S path       read the archive from `path` instead of this file; the
//   /S"a path"    path may follow the letter directly or after blanks, and
//                 may be quoted (to the next quote or the end of the line)
//
// Parsing stops at the first word that does not start with - or /.
#pragma once

// Reads `text` (the command line without the program name). The S option
// replaces SourcePath (at most PathCapacity - 1 characters are kept).
// Returns true when the DEL option was given.
bool ReadCommandLine(const char* text);
