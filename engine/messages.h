// Message boxes of the setup program: every question and report the engine
// and the pages show.
#pragma once
#include <windows.h>

#include "common/types.h"

const u32 QuestionStyle = MB_YESNO | MB_ICONQUESTION;
const u32 ReportStyle = MB_OK | MB_ICONINFORMATION;

// Shows `text` in a message box owned by the frame dialog, else the main
// window, with the setup title as caption; returns the MessageBoxA answer.
// Unattended, no box appears: the text goes to the log and the answer is
// the safe one (OK, Abort, No or Cancel); the places that ask questions give
// their own documented answers before it comes to that.
i32 ShowMessage(const char* text, u32 style);
