// The progress page's bar, and the listener through which the engine
// reports to the page.
#pragma once
#include <windows.h>

#include "common/types.h"
#include "engine/progress.h"


// Makes `page` (null while none is shown) the progress page the engine
// reports to, through the page's listener.
void SetProgressPage(HWND page);

// Moves the progress bar to `percent` (at most 100) and redraws it at once.
void SetProgressPercent(u32 percent);
// Writes the percentage and paints the bar; with a null `dc` the window's
// own is taken.
void DrawProgressBar(HWND page, HDC dc);
