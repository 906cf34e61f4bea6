// The main window's procedure and, in full-screen mode, the painted
// background behind the wizard: a tiled picture or a blue gradient, with
// the setup's title in the top-left corner.
#pragma once
#include <windows.h>

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Blue of the gradient at pixel row y of a client area `height` rows high:
// quadratic from 255 at the top to 0 at the bottom edge (y = height).
int GradientBlue(int y, int height);

// Draws the script's background into `dc` for a client area `client` (at
// 0, 0): the tiled BackgroundPicture, else the gradient (on a palette display
// only over `dirty`), then the BackgroundTitle in its BackgroundStyle.
void DrawBackground(HDC dc, const RECT& client, const RECT& dirty);
