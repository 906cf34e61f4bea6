#include "wizard/dialog_helpers.h"

#include "common/display_text.h"
#include "common/window_texts.h"
#include "engine/setup_state.h"
#include "wizard/main_window.h"

// One font for the controls of every wizard dialog; null until a dialog with
// a font has called ApplyControlFont.
static HFONT controlFont;

void ApplyControlFont(HWND dialog) {
    if (controlFont == nullptr) {
        HFONT dialogFont = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
        LOGFONTA description;
        if (dialogFont != nullptr && GetObjectA(dialogFont, sizeof description, &description) != 0) {
            description.lfWeight = FW_NORMAL;
            // Texts in a named code page need that code page's characters.
            if (displayCodePage != 0) description.lfCharSet = DisplayCharacterSet();
            controlFont = CreateFontIndirectA(&description);
        }
        if (controlFont == nullptr) return;
    }
    // Without redrawing: the dialog is not shown yet when this runs.
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
        SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(controlFont), FALSE);
}

void ReleaseControlFont() {
    if (controlFont != nullptr) DeleteObject(controlFont);
    controlFont = nullptr;
}

INT_PTR ColourControl(HWND, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSTATIC:
            SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_BTNFACE));
            return reinterpret_cast<INT_PTR>(buttonFaceBrush);
        default: return 0;  // edit boxes, lists and scroll bars keep the system's colours
    }
}

INT_PTR AnswerHandled(HWND dialog) {
    SetWindowLongPtrA(dialog, DWLP_MSGRESULT, 1);
    return TRUE;
}

void FillSolidRect(HDC dc, int x, int y, int width, int height, COLORREF colour) {
    // An empty opaque text fills its rectangle with the background colour,
    // without a brush to create and delete.
    SetBkColor(dc, colour);
    RECT area = {x, y, x + width, y + height};
    ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &area, nullptr, 0, nullptr);
}
