// Showing the program's texts (in displayCodePage, common/display_text.h) in
// windows, message boxes and painted titles.
#pragma once
#include <windows.h>

#include "common/types.h"

// True when texts go through the wide-character calls: on NT, when the
// display code page is not the system's.
bool ShowsWideTexts();
// The GDI character set of displayCodePage, or DEFAULT_CHARSET.
u8 DisplayCharacterSet();

void ShowWindowText(HWND window, const char* text);
void ShowItemText(HWND dialog, int id, const char* text);
int ShowMessageBox(HWND owner, const char* text, const char* caption, u32 style);
void DrawShownText(HDC dc, const char* text, RECT* area, u32 format);

// Windows that show such texts must be Unicode windows: the system passes a
// wide text to an ANSI window in the system's code page. These create them
// so when ShowsWideTexts(), and as ANSI windows otherwise.
HWND CreateShownDialog(HINSTANCE instance, const void* dialogTemplate, HWND owner, DLGPROC procedure, LPARAM parameter);
INT_PTR RunShownDialog(HINSTANCE instance, const void* dialogTemplate, HWND owner, DLGPROC procedure, LPARAM parameter);
// Registers a Unicode class on NT (its procedure must answer through
// DefaultWindowAnswer), an ANSI class elsewhere.
bool RegisterShownClass(const WNDCLASSA& windowClass);
HWND CreateShownWindow(DWORD extendedStyle, const char* className, const char* title, DWORD style, int x, int y,
                       int width, int height, HWND parent, HINSTANCE instance);
// The system's default answer, in the window's own form.
LRESULT DefaultWindowAnswer(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
