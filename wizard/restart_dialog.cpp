// The question at the end of a setup run whether to restart Windows now.
#include "archive/texts.h"
#include "common/window_texts.h"
#include "engine/setup_state.h"
#include "wizard/dialog_helpers.h"


// Centres the pop-up dialog in the main window's client area; in full-screen
// mode that is the middle of the screen.
static void SetUpRestartDialog(HWND dialog) {
    ApplyControlFont(dialog);
    RECT main, own;
    GetClientRect(mainWindow, &main);
    GetClientRect(dialog, &own);
    SetWindowPos(dialog, nullptr, (main.right - own.right) / 2, (main.bottom - own.bottom) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER);
    ShowWindowText(dialog, LookupText(MessageTexts, SetupTitleText));
    ShowItemText(dialog, IDOK, LookupText(ButtonTexts, RestartCaption));
    ShowItemText(dialog, IDCANCEL, LookupText(ButtonTexts, CancelCaption));
    ShowItemText(dialog, FirstPageText, LookupText(FinishTexts, RestartQuestionText));
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
