// The main window: the top-level window that owns everything on screen. In
// full-screen mode it covers the screen and paints the background; in
// windowed mode it exactly surrounds the frame dialog. Its class name is how
// a second start finds the running copy.
#pragma once
#include <windows.h>

extern const char MainWindowClass[];

// Window styles of the main window.
const DWORD FullScreenStyle = 0x02CF0000;  // overlapped, sizing, clip children
const DWORD WindowedStyle = 0x00CA0000;    // caption, system menu, minimise box

// Half the screen: the point the frame dialog centres itself on.
extern POINT screenCentre;
// The brush dialogs and their controls paint their background with.
extern HBRUSH buttonFaceBrush;

void CreateButtonFaceBrush();
// Deletes the brush (unless it is the stock fallback).
void ReleaseButtonFaceBrush();
bool RegisterMainWindowClass();
// Creates the hidden main window over the whole screen, titled with the
// setup title; stores mainWindow and screenCentre.
bool CreateMainWindow();
