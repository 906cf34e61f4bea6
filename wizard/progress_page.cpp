// The progress page. Until the installation engine drives it, it passes
// straight on to the finish page.
#include "control/page_loop.h"
#include "wizard/dialog_helpers.h"
#include "wizard/pages.h"

INT_PTR CALLBACK ProgressPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetUpPage(page, CancelBit);
        GoToPage(FinishPage);
        return TRUE;
    }
    return ColourControl(page, message, wParam, lParam);
}
