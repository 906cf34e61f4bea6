// The confirmation page: names the destination, turns Next into the button
// that starts the installation, and asks once more when files that will be
// replaced are write-protected.
#include "common/helpers.h"
#include "common/paths.h"
#include "control/page_loop.h"
#include "control/setup_state.h"
#include "control/texts.h"
#include "wizard/dialog_helpers.h"
#include "wizard/disk_space.h"
#include "wizard/pages.h"

const u32 DestinationFormat = 2;         // in the page's table, with "%s"
const u32 InstallCaption = 3;            // of the button texts
const u32 WriteProtectedQuestion = 7;    // message
const int DestinationText = 1001;

static void ShowDestination(HWND page) {
    RemoveTrailingBackslash(DestinationPath);
    char text[MessageCapacity];
    FormatTextWithPath(text, LookupText(ConfirmationTexts, DestinationFormat), DestinationPath);
    AppendBackslash(DestinationPath);
    SetDlgItemTextA(page, DestinationText, text);
}

INT_PTR CALLBACK ConfirmationPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetUpPage(page, BackBit | NextBit | CancelBit);
        ShowDestination(page);
        SetFrameButtonText(NextBit, InstallCaption);
        SetFocus(GetDlgItem(frameWindow, IDOK));
        return FALSE;
    }
    if (message == WM_COMMAND && LOWORD(wParam) == IDOK && writeProtectionFound) {
        char text[MessageCapacity];
        FormatMessageText(text, WriteProtectedQuestion);
        if (ShowMessage(text, QuestionStyle) == IDNO) return AnswerHandled(page);
    }
    return ColourControl(page, message, wParam, lParam);
}
