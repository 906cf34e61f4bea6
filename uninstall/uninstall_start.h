// How the uninstall program was started, and what it ends with.
#pragma once
#include "archive/uninstall_log_format.h"
#include "common/types.h"

enum StartMode {
    NormalStart,    // ask, then hand over to a copy in the temporary folder
    SilentStart,    // "/X" (a setup removing an earlier installation): in place, no questions
    QuietStart,     // "/Q" (an administrator's quiet uninstall): as /X, and its own file and
                    // folder go at the next restart
    RelocatedStart, // the copy: /U"original uninstaller", works on the original's log
};

// The switches that end a silent and a quiet start, and the one that names
// the original.
constexpr char SilentSwitch = UninstallerSilentArgument[1];
constexpr char QuietSwitch = UninstallerQuietArgument[1];
const char OriginalSwitch = 'U';

// Reads the whole command line (program name included). Setup starts the
// uninstaller as `path /X` with the path unquoted, so "/X" (or "/Q") is
// recognised as the last word, whatever blanks the path holds. For a relocated start the
// original's path goes into `original` (capacity characters).
StartMode ReadStartMode(const char* commandLine, char* original, u32 capacity);

// The copy's command line: "copy" /U"original".
void FormatCopyCommand(char* command, const char* copy, const char* original);
