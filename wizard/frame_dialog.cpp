#include "wizard/frame_dialog.h"

#include "archive/catalogue.h"
#include "archive/texts.h"
#include "engine/messages.h"
#include "engine/setup_state.h"
#include "wizard/dialog_helpers.h"
#include "wizard/main_window.h"
#include "wizard/page_loop.h"
#include "wizard/pictures.h"


// The start of a frame of `size` centred on `centre` inside `room`, kept
// inside the room as far as it fits.
static int CentredStart(int centre, int size, int room) {
    int start = centre - size / 2;
    int largest = room - size;
    if ((start < largest ? start : largest) < 0) return 0;
    return start >= largest ? largest : start;
}

static void PlaceFrame(HWND frame) {
    RECT main, own;
    GetWindowRect(mainWindow, &main);
    GetWindowRect(frame, &own);
    int width = own.right - own.left, height = own.bottom - own.top;
    int x = CentredStart(screenCentre.x, width, main.right - main.left);
    int y = CentredStart(screenCentre.y, height, main.bottom - main.top);
    SetWindowPos(frame, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    PostMessageA(frame, WM_NCACTIVATE, TRUE, 0);  // draw the caption as active
}

static void CancelAfterAsking() {
    if ((buttonMask & CancelWithoutAsking) == 0) {
        char message[MessageCapacity];
        FormatMessageText(message, ReallyCancelQuestion);
        if (ShowMessage(message, QuestionStyle) != IDYES) return;
        FormatMessageText(message, NotCompletedMessage);
        ShowMessage(message, ReportStyle);
        documentEntry = launchEntry = screenSaverEntry = nullptr;
    }
    pageResult = PageCancelled;
}

static void HandleCommand(WPARAM wParam, LPARAM lParam) {
    if (pageWindow != nullptr && SendMessageA(pageWindow, WM_COMMAND, wParam, lParam) != 0) return;
    switch (LOWORD(wParam)) {
        case IDOK: pageResult = PageNext; break;
        case BackButton: pageResult = PageBack; break;
        case IDCANCEL: CancelAfterAsking(); break;
        default: break;
    }
}

static void PaintFrame(HWND frame) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(frame, &paint);
    if (dc != nullptr) {
        DrawControlFrame(frame, dc, SeparatorLine, true);  // a sunken line above the buttons
        DrawPictureInControl(frame, dc, PictureArea, setupScript.wizardPicture);
    }
    EndPaint(frame, &paint);
}

INT_PTR CALLBACK FrameDialogProc(HWND frame, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            PlaceFrame(frame);
            ApplyControlFont(frame);
            return TRUE;
        case WM_COMMAND: HandleCommand(wParam, lParam); return TRUE;
        case WM_SYSCOMMAND:
            if (SystemCommandOf(wParam) == SC_MINIMIZE) ShowWindow(mainWindow, SW_MINIMIZE);
            if (SystemCommandOf(wParam) == SC_CLOSE) pageResult = PageCancelled;
            return FALSE;  // the system's own handling follows
        case WM_PAINT: PaintFrame(frame); return TRUE;
        default: return ColourControl(frame, message, wParam, lParam);
    }
}
