#include "engine/messages.h"

#include "archive/texts.h"
#include "common/window_texts.h"
#include "engine/install_log.h"
#include "engine/setup_state.h"

// What nobody at the screen answers: the safe choice of each kind of box.
static i32 UnattendedAnswer(u32 style) {
    switch (style & MB_TYPEMASK) {
        case MB_OK: return IDOK;
        case MB_ABORTRETRYIGNORE: return IDABORT;
        case MB_YESNO: return IDNO;
        default: return IDCANCEL;
    }
}

i32 ShowMessage(const char* text, u32 style) {
    if (Unattended()) {
        LogShownText("message", "", text);
        return UnattendedAnswer(style);
    }
    HWND owner = frameWindow != nullptr ? frameWindow : mainWindow;
    return ShowMessageBox(owner, text, LookupText(MessageTexts, SetupTitleText), style);
}
