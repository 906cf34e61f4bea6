// The log a run writes when its command line names one (the LOG option):
// UTF-8 text, one line per thing done, kept, left for the restart or
// failed, and a last line with the exit code. Without a log every call does
// nothing.
#pragma once
#include "common/types.h"

// Creates (or empties) the log at `path`; false when it cannot be written.
bool OpenInstallLog(const char* path);
// Writes "<event> <subject>", then ": <detail>" when a detail is given.
// Texts are in the system's code page and go into the log as UTF-8.
void LogLine(const char* event, const char* subject, const char* detail = nullptr);
// LogLine whose detail is a text as shown (in the texts' code page); an empty
// subject is left out.
void LogShownText(const char* event, const char* subject, const char* text);
// LogLine with the system's own message for `error` as its detail.
void LogSystemError(const char* event, const char* subject, u32 error);
// The last line, "exit code <code>: <reason>", and the log is closed.
void CloseInstallLog(int exitCode, const char* reason);
