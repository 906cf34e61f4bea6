// The first pages: welcome, information and set selection. Each decides
// where Next and Back lead, so a page without content, or a choice with
// only one answer, is passed over.
#include "archive/catalogue.h"
#include "archive/script.h"
#include "archive/texts.h"
#include "common/window_texts.h"
#include "engine/setup_state.h"
#include "wizard/dialog_helpers.h"
#include "wizard/page_loop.h"
#include "wizard/pages.h"

bool HasInformationText() { return LookupText(InformationTexts, InformationText)[0] != '\0'; }

static void FocusOnNext() { SetFocus(GetDlgItem(frameWindow, IDOK)); }

INT_PTR CALLBACK WelcomePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetUpPage(page, NextBit | CancelBit);
        return TRUE;
    }
    if (message == WM_COMMAND && LOWORD(wParam) == IDOK && !HasInformationText()) {
        GoToPage(setupScript.setCount > 1 ? SetSelectionPage : DestinationPage);
        return AnswerHandled(page);
    }
    return ColourControl(page, message, wParam, lParam);
}

INT_PTR CALLBACK InformationPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetUpPage(page, BackBit | NextBit | CancelBit);
        const char* nextCaption = LookupText(InformationTexts, InformationNextCaption);
        if (nextCaption[0] != '\0') ShowItemText(frameWindow, IDOK, nextCaption);
        FocusOnNext();
        return FALSE;
    }
    if (message == WM_COMMAND && LOWORD(wParam) == IDOK && setupScript.setCount == 1) {
        GoToPage(DestinationPage);
        return AnswerHandled(page);
    }
    return ColourControl(page, message, wParam, lParam);
}

static void ShowSetButtons(HWND page) {
    for (u32 set = 0; set < setupScript.setCount; set++) {
        HWND button = GetDlgItem(page, FirstSetButton + static_cast<int>(set));
        const char* caption = InstallSetField(set, CaptionField);
        if (caption != nullptr) ShowWindowText(button, caption);
        EnableWindow(button, TRUE);
        ShowWindow(button, SW_SHOW);
    }
    if (currentSet >= 0)
        CheckRadioButton(page, FirstSetButton, FirstSetButton + MaxInstallSets - 1, FirstSetButton + currentSet);
}

// Makes the first checked set current and shows the page in its texts.
static void TakeCheckedSet(HWND page) {
    for (u32 set = 0; set < setupScript.setCount; set++) {
        if (IsDlgButtonChecked(page, FirstSetButton + static_cast<int>(set)) == BST_CHECKED) {
            SelectInstallSet(set);
            SetUpPage(page, BackBit | NextBit | CancelBit);
            return;
        }
    }
}

INT_PTR CALLBACK SetSelectionPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetUpPage(page, BackBit | NextBit | CancelBit);
        ShowSetButtons(page);
        FocusOnNext();
        return FALSE;
    }
    if (message == WM_COMMAND) {
        int id = LOWORD(wParam);
        if (id >= FirstSetButton && id < FirstSetButton + static_cast<int>(MaxInstallSets)) TakeCheckedSet(page);
        if (id == IDOK) {
            GoToPage(DestinationPage);
            return AnswerHandled(page);
        }
        if (id == BackButton && !HasInformationText()) {
            GoToPage(WelcomePage);
            return AnswerHandled(page);
        }
    }
    return ColourControl(page, message, wParam, lParam);
}
