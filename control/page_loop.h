// The wizard's page sequence.
#pragma once
#include <windows.h>

#include "common/types.h"

// How the current page ends: the control ids of the frame's buttons.
enum PageResult : i32 { PageRunning = 0, PageNext = 1, PageCancelled = 2, PageBack = 1007 };

extern i32 pageResult;
extern HWND pageWindow;
extern u32 buttonMask;
// Bit of buttonMask: Cancel ends the page without asking.
const u32 CancelWithoutAsking = 0x100;

// Runs the wizard until it ends.
void RunPageLoop();
