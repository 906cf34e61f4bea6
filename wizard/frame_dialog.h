// The wizard frame: a modeless dialog holding Back, Next and Cancel, the side
// picture and the area each page is placed in.
#pragma once
#include <windows.h>

INT_PTR CALLBACK FrameDialogProc(HWND frame, UINT message, WPARAM wParam, LPARAM lParam);
