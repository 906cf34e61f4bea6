// The progress page: runs the installation one file entry per timer tick
// (or, with an InstallPace record, as many as fit in its time), so the
// window keeps painting and Cancel is heard between entries, and draws the
// overall progress as a bar of blocks.
#include "archive/script.h"
#include "archive/texts.h"
#include "common/helpers.h"
#include "common/paths.h"
#include "common/window_texts.h"
#include "engine/installation.h"
#include "engine/messages.h"
#include "engine/setup_state.h"
#include "wizard/dialog_helpers.h"
#include "wizard/page_loop.h"
#include "wizard/pages.h"
#include "wizard/progress.h"

const UINT_PTR StepTimer = 11;
const UINT FirstStepDelay = 100;  // ms
const UINT NextStepDelay = 50;    // ms
const UINT NextBatchDelay = USER_TIMER_MINIMUM;  // ms: the batch itself takes the time

static u32 percent;
static UINT_PTR stepTimer;
static bool paused;
static bool stepping;  // an entry is being installed (its questions may be on screen)

// In a batch the bar and the item line show only the batch's last entry:
// the listener keeps what it is told, and the batch's end shows it.
static bool batching;
static bool percentWaiting;
static u32 waitingPercent;
static char waitingItem[PathCapacity];

static void ShowPercent(u32 value) {
    percentWaiting = batching;
    if (batching)
        waitingPercent = value;
    else
        SetProgressPercent(value);
}

// The engine's listener: the bar, the item line, and the page's end.
static void ShowItem(const char* text) {
    if (batching)
        CopyPath(waitingItem, text, PathCapacity);
    else
        SetDlgItemTextA(progressWindow, ProgressItem, text);
}
static bool PageCancelledByUser() { return pageResult == PageCancelled; }
static void CancelPage() { pageResult = PageCancelled; }
static void ShowFinishPage() {
    if (fixedPageNumber == NoFixedPage)
        GoToPage(FinishPage);
    else if (Unattended())
        EndPage(NextBit);  // the progress window alone closes when it is done
}
// Writable data: the read-only section of the program has no room to spare.
static ProgressListener progressPageListener = {ShowPercent, ShowItem, PageCancelledByUser, CancelPage,
                                                ShowFinishPage};

void SetProgressPage(HWND page) {
    progressWindow = page;
    progressListener = &progressPageListener;
}

void SetProgressPercent(u32 value) {
    percent = value < 100 ? value : 100;
    DrawProgressBar(progressWindow, nullptr);
}

// Blocks of half the bar's height, two pixels apart, as far as the percent
// reaches; the first is always drawn.
static void DrawBlocks(HDC dc, int width, int height) {
    HBRUSH brush = CreateSolidBrush(GetSysColor(COLOR_ACTIVECAPTION));
    if (brush == nullptr) return;
    int side = height / 2;
    int reach = static_cast<int>(percent * static_cast<u32>(width) / 100);
    for (int k = 0;; k++) {
        RECT block = {1 + k * (side + 2), 2, 1 + k * (side + 2) + side, height - 2};
        FillRect(dc, &block, brush);
        int nextRight = 1 + (k + 1) * (side + 2) + side;
        if (nextRight >= width || nextRight >= reach) break;
    }
    DeleteObject(brush);
}

static void DrawBarInto(HDC dc, int width, int height) {
    FillSolidRect(dc, 0, 0, width, height, GetSysColor(COLOR_BTNFACE));
    FillSolidRect(dc, 0, 0, width, 1, GetSysColor(COLOR_BTNSHADOW));
    FillSolidRect(dc, 0, 0, 1, height, GetSysColor(COLOR_BTNSHADOW));
    FillSolidRect(dc, width - 1, 0, 1, height, GetSysColor(COLOR_BTNHIGHLIGHT));
    FillSolidRect(dc, 0, height - 1, width, 1, GetSysColor(COLOR_BTNHIGHLIGHT));
    DrawBlocks(dc, width, height);
}

void DrawProgressBar(HWND page, HDC dc) {
    if (page == nullptr) return;
    char text[8];
    wsprintfA(text, "%d%%", static_cast<int>(percent));
    ShowItemText(page, ProgressPercent, text);
    HDC own = dc == nullptr ? GetDC(page) : nullptr;
    if (dc == nullptr) dc = own;
    if (dc == nullptr) return;
    RECT area;
    if (!GetWindowRect(GetDlgItem(page, ProgressBarArea), &area)) area = RECT{0, 0, 0, 0};  // no bar to paint
    POINT corner = {area.left, area.top};
    ScreenToClient(page, &corner);
    int width = area.right - area.left, height = area.bottom - area.top;
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP bitmap = memory != nullptr ? CreateCompatibleBitmap(dc, width, height) : nullptr;
    if (bitmap != nullptr) {
        HGDIOBJ previous = SelectObject(memory, bitmap);
        DrawBarInto(memory, width, height);
        BitBlt(dc, corner.x, corner.y, width, height, memory, 0, 0, SRCCOPY);
        SelectObject(memory, previous);
        DeleteObject(bitmap);
    }
    if (memory != nullptr) DeleteDC(memory);
    if (own != nullptr) ReleaseDC(page, own);
}

// Installs the rest without the timer (when none can be had), then ends.
static void InstallRemainingEntries() {
    while (InstallNextEntry()) {
    }
    FinishInstallation();
}

static void ArmTimer(HWND page, UINT delay) {
    stepTimer = SetTimer(page, StepTimer, delay, nullptr);
    if (stepTimer == 0) InstallRemainingEntries();
}

// A click or key waiting for the page (not the mouse moving over it).
static bool InputWaiting() { return HIWORD(GetQueueStatus(QS_MOUSEBUTTON | QS_KEY)) != 0; }

// Installs entries until the pace's time is used, the user has pressed a
// button or a key (Cancel is then heard before the next entry), or the
// installation stops; shows the last entry's item and percentage.
static bool InstallBatch(u32 budget) {
    batching = true;
    percentWaiting = false;
    waitingItem[0] = '\0';
    DWORD start = GetTickCount();
    bool more;
    do more = InstallNextEntry();
    while (more && pageResult == PageRunning && GetTickCount() - start < budget && !InputWaiting());
    batching = false;
    if (waitingItem[0] != '\0') ShowItem(waitingItem);
    if (percentWaiting) ShowPercent(waitingPercent);
    return more;
}

static void Step(HWND page) {
    if (!engineRunning || paused) return;
    KillTimer(page, StepTimer);
    stepTimer = 0;  // no tick may arrive while the entry is installed
    u32 budget = setupScript.batchMilliseconds;
    stepping = true;
    bool more = budget != 0 ? InstallBatch(budget) : InstallNextEntry();
    stepping = false;
    if (more)
        ArmTimer(page, budget != 0 ? NextBatchDelay : NextStepDelay);
    else
        FinishInstallation();
}

// The setup file could not be opened again: the finish page reports it, or
// in a single page the message itself.
static void ReportStartFailure() {
    if (fixedPageNumber == NoFixedPage) {
        GoToPage(FinishPage);
        return;
    }
    char text[MessageCapacity];
    FormatMessageText(text, static_cast<u32>(engineState));
    ShowMessage(text, ReportStyle);
    EndPage(CancelBit);
}

static void OpenPage(HWND page) {
    SetProgressPage(page);
    percent = 0;
    SetUpPage(page, CancelBit);
    SetFrameButtonText(CancelBit, StopCaption);
    paused = false;
    if (!StartInstallation())
        ReportStartFailure();
    else
        ArmTimer(page, FirstStepDelay);
}

static void AskToStop() {
    paused = true;
    char text[MessageCapacity];
    FormatMessageText(text, ReallyStopQuestion);
    if (ShowMessage(text, QuestionStyle) != IDYES) {
        paused = false;
        return;
    }
    // Between entries the changes are taken back before the report says
    // so; during one, once the wizard has ended.
    if (!stepping) AbandonInstallation();
    FormatMessageText(text, NotCompletedMessage);
    ShowMessage(text, ReportStyle);
    pageResult = PageCancelled;
    documentEntry = launchEntry = screenSaverEntry = nullptr;
}

INT_PTR CALLBACK ProgressPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: OpenPage(page); return TRUE;
        case WM_TIMER: Step(page); return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) != IDCANCEL || fixedPageNumber != NoFixedPage) break;
            AskToStop();
            return AnswerHandled(page);
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(page, &paint);
            DrawProgressBar(page, dc);
            EndPaint(page, &paint);
            return TRUE;
        }
        case WM_DESTROY:
            if (stepTimer != 0) KillTimer(page, StepTimer);
            stepTimer = 0;
            progressWindow = nullptr;
            break;
        default: break;
    }
    return ColourControl(page, message, wParam, lParam);
}
