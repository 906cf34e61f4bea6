// The uninstall program's own texts, shared by kelvo, which writes them, and
// the program, which reads them. They sit in its data, behind its image and
// ahead of the uninstall log, as one record: its body is the texts in the
// order of UninstallText, each ended by a NUL. The program holds no text of
// its own: a missing record or string is the empty text.
#pragma once
#include "common/types.h"

// Distinct from the log's record ids (archive/uninstall_log_format.h).
const u16 UninstallTextsRecord = 0x1250;
// u32: the Windows ANSI code page of UninstallTexts; without it, the system's.
// (0x1251 is the settings record, archive/uninstall_settings.h.)
const u16 UninstallCodePageRecord = 0x1253;
// One more language (any number): u16 Windows language id, u16 code page,
// then the texts as in UninstallTexts. The program takes the one whose
// language is the user's interface language, else the first with the same
// primary language (low ten bits), else UninstallTexts.
const u16 UninstallLanguageTextsRecord = 0x1252;

// "%s" in a text stands for what its comment names.
enum UninstallText : u32 {
    CaptionText = 0,    // caption of every window and message
    ConfirmText,        // question before anything is removed; %s the program's name
    KeepSharedText,     // question: keep a shared file no program counts any more? %s the file
    RemovingText,       // progress line; %s the file or folder being removed
    DoneText,           // report at the end; %s the program's name
    RestartText,        // report when files in use are left for the next restart; %s the program's name
    NoLogText,          // report when the program holds no uninstall log
    DamagedLogText,     // report when the log is damaged and nothing was removed
    UninstallTextCount
};
