#include <windows.h>

#include "control/page_loop.h"
#include "control/setup_state.h"

i32 pageResult;
HWND pageWindow;
u32 buttonMask;

// Until the pages exist the wizard is the frame alone: it runs until the
// frame's Cancel or the main window's close command ends it.
void RunPageLoop() {
    pageResult = PageRunning;
    MSG message;
    while (pageResult == PageRunning && GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (frameWindow != nullptr && IsDialogMessageA(frameWindow, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}
