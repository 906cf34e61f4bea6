// A small window that shows what is being removed and how far the work is.
#pragma once
#include <windows.h>

#include "common/types.h"

// Shows the window with `caption`; null when it cannot be made (the work
// goes on without it).
HWND OpenProgressWindow(HINSTANCE instance, const char* caption, u32 steps);
// Shows `text`, advances the bar by one step and lets the window repaint.
void ShowProgressStep(HWND window, const char* text);
void CloseProgressWindow(HWND window);
