// The finish page: the last page; its Cancel button ends the wizard without
// a question.
#include "control/page_loop.h"
#include "wizard/dialog_helpers.h"
#include "wizard/pages.h"

INT_PTR CALLBACK FinishPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetUpPage(page, CancelBit | CancelWithoutAsking);
        return TRUE;
    }
    return ColourControl(page, message, wParam, lParam);
}
