// What the engine tells the progress page while it works.
#pragma once
#include <windows.h>

#include "common/types.h"

// The open progress page, which the engine's updates go to.
extern HWND progressWindow;
void SetProgressPage(HWND page);

// Moves the progress bar to `percent` (at most 100) and redraws it at once.
void SetProgressPercent(u32 percent);
// Writes the percentage and paints the bar; with a null `dc` the window's
// own is taken.
void DrawProgressBar(HWND page, HDC dc);
