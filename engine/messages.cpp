#include "engine/messages.h"

#include "archive/texts.h"
#include "engine/setup_state.h"

i32 ShowMessage(const char* text, u32 style) {
    HWND owner = frameWindow != nullptr ? frameWindow : mainWindow;
    return MessageBoxA(owner, text, LookupText(MessageTexts, SetupTitleText), style);
}
