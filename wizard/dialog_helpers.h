// What every dialog of the wizard shares: one control font, the button-face
// background, the way a page tells the frame it handled a command, and solid
// rectangles painted without a brush.
#pragma once
#include <windows.h>

#include "common/types.h"

// Gives every child of `dialog` the control font; the first dialog with a
// font fixes it (its description at normal weight) for the whole run.
void ApplyControlFont(HWND dialog);
// Deletes the control font at shutdown, if one was made.
void ReleaseControlFont();

// The fall-through of every wizard dialog procedure: message boxes, buttons,
// dialogs and static texts get the button-face background; anything else
// answers 0 and is left to the system.
INT_PTR ColourControl(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// A page's answer for a command it has dealt with: the frame applies no
// default of its own.
INT_PTR AnswerHandled(HWND dialog);

void FillSolidRect(HDC dc, int x, int y, int width, int height, COLORREF colour);

// The command of a WM_SYSCOMMAND's wParam (SC_CLOSE, ...): the system uses
// its low four bits for itself.
inline WPARAM SystemCommandOf(WPARAM wParam) { return wParam & 0xFFF0; }

// The modal question whether to restart Windows (template 8); ends with 1
// (restart) or 2.
INT_PTR CALLBACK RestartDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
