// The main window: the top-level window that owns everything on screen. In
// full-screen mode it covers the screen and paints the background; in
// windowed mode it exactly surrounds the frame dialog. Its class name is how
// a second start finds the running copy.
#pragma once
#include <windows.h>

extern const char MainWindowClass[];

// Window styles of the main window.
const DWORD FullScreenStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
const DWORD WindowedStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

void CreateButtonFaceBrush();
// Deletes the brush (unless it is the stock fallback).
void ReleaseButtonFaceBrush();
bool RegisterMainWindowClass();
// Creates the hidden main window over the whole screen, titled with the
// setup title; stores mainWindow and screenCentre.
bool CreateMainWindow();
