// The question at the end of a setup run whether to restart Windows now.
#include "control/setup_state.h"
#include "control/texts.h"
#include "wizard/dialog_helpers.h"

const int RestartTextControl = 1000;
// Texts of the dialog.
const u32 SetupTitleText = 0;       // table 6
const u32 RestartButtonText = 6;    // table 7
const u32 CancelButtonText = 2;     // table 7
const u32 RestartRequestText = 7;   // table 5

// Centres the pop-up dialog in the main window's client area; in full-screen
// mode that is the middle of the screen.
static void SetUpRestartDialog(HWND dialog) {
    ApplyControlFont(dialog);
    RECT main, own;
    GetClientRect(mainWindow, &main);
    GetClientRect(dialog, &own);
    SetWindowPos(dialog, nullptr, (main.right - own.right) / 2, (main.bottom - own.bottom) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER);
    SetWindowTextA(dialog, LookupText(MessageTexts, SetupTitleText));
    SetDlgItemTextA(dialog, IDOK, LookupText(ButtonTexts, RestartButtonText));
    SetDlgItemTextA(dialog, IDCANCEL, LookupText(ButtonTexts, CancelButtonText));
    SetDlgItemTextA(dialog, RestartTextControl, LookupText(FinishTexts, RestartRequestText));
}

INT_PTR CALLBACK RestartDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetUpRestartDialog(dialog);
        return TRUE;
    }
    // Escape arrives as IDCANCEL, Enter as the default button IDOK.
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return ColourControl(dialog, message, wParam, lParam);
}
