// Shortcut files: the program-menu shortcuts of a set and single shortcuts
// such as the desktop's.
#pragma once
#include "common/types.h"

// Writes a shortcut file `link` to `target`, working in the target's folder,
// with `arguments` (may be null) and, unless iconIndex is 0, the target's
// icon number iconIndex. False when it cannot; callers go on regardless.
bool CreateShortcut(const char* target, const char* link, const char* arguments, u32 iconIndex);
// Told of every program-menu shortcut written: its folder (no trailing
// backslash) and its file name with ".lnk". The uninstall log keeps these.
typedef void (*ShortcutRecorder)(const char* folder, const char* fileName);
// The program-menu shortcuts of every entry of the current set, each folder
// reported to `recorder` when one is given. Leaves the process in the folder
// of the last shortcut made.
void CreateProgramShortcuts(ShortcutRecorder recorder = nullptr);
