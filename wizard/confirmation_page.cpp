// The confirmation page: names the destination, turns Next into the button
// that starts the installation, and asks once more when files that will be
// replaced are write-protected.
#include "archive/texts.h"
#include "common/helpers.h"
#include "common/paths.h"
#include "common/window_texts.h"
#include "engine/messages.h"
#include "engine/setup_state.h"
#include "wizard/dialog_helpers.h"
#include "wizard/disk_space.h"
#include "wizard/page_loop.h"
#include "wizard/pages.h"

// The control that names the destination: the page's second text.
const int DestinationText = FirstPageText + 1;

static void ShowDestination(HWND page) {
    RemoveTrailingBackslash(DestinationPath);
    char text[MessageCapacity];
    FormatTextWithPath(text, LookupText(ConfirmationTexts, DestinationFormat), DestinationPath);
    AppendBackslash(DestinationPath);
    ShowItemText(page, DestinationText, text);
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
