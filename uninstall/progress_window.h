// A small window that shows what is being removed and how far the work is.
#pragma once
#include <windows.h>

#include "common/types.h"

// Shows the window with `caption`; null when it cannot be made (the work
// goes on without it).
HWND OpenProgressWindow(HINSTANCE instance, const char* caption, u32 steps);
// Advances the bar by one step with `text` as the current item. The window
// is brought up to date at most every few tens of milliseconds: drawing
// every item would cost more than removing it.
void ShowProgressStep(HWND window, const char* text);
void CloseProgressWindow(HWND window);
