// The finish page: reports how the installation ended. On success it offers
// the document to view and the program to run after setup where the set has
// them; on failure it shows the error the engine recorded.
#include "archive/catalogue.h"
#include "archive/script.h"
#include "archive/texts.h"
#include "common/helpers.h"
#include "common/paths.h"
#include "common/window_texts.h"
#include "engine/setup_state.h"
#include "wizard/dialog_helpers.h"
#include "wizard/open_document.h"
#include "wizard/page_loop.h"
#include "wizard/pages.h"

const u32 ReportCapacity = 2048;
const u32 SystemMessageLength = 500;

static HWND Control(HWND page, int id) { return GetDlgItem(page, id); }

// The first entry that could not be replaced turns success into failure.
static void FindUnreplacedEntry() {
    const FileEntry* entry = currentFirstEntry;
    for (u32 i = 0; i < currentFileCount; i++, entry = NextFileEntry(entry)) {
        if (entry->outcome == FileNotReplaced) {
            engineState = AccessDenied;
            return;
        }
    }
}

static bool ShowCaption(HWND page, int id, u32 text) {
    const char* caption = LookupText(FinishTexts, text);
    if (caption[0] == '\0') return false;
    ShowItemText(page, id, caption);
    ShowWindow(Control(page, id), SW_SHOW);
    return true;
}

// Moves the launch box up to where the view button stands, for a page
// without a view button and without its introduction.
static void CompactLayout(HWND page) {
    RECT button;
    GetWindowRect(Control(page, ViewButton), &button);
    RECT box;
    GetWindowRect(Control(page, LaunchBox), &box);
    POINT corner = {box.left, button.top};
    ScreenToClient(page, &corner);
    SetWindowPos(Control(page, LaunchBox), nullptr, corner.x, corner.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ShowItemText(page, FirstPageText + 1, LookupText(FinishTexts, LaunchIntroduction));
    ShowItemText(page, FirstPageText + 2, "");
}

static void ShowSuccess(HWND page) {
    bool singlePage = fixedPageNumber != NoFixedPage;
    bool viewShown = false;
    if (documentEntry != nullptr || singlePage) {
        viewShown = ShowCaption(page, ViewButton, ViewCaption);
        if (!viewShown) OpenDocument();
    }
    if (!restartNeeded && (launchEntry != nullptr || singlePage) && ShowCaption(page, LaunchBox, LaunchCaption) &&
        !viewShown && LookupText(FinishTexts, ViewIntroduction)[0] == '\0')
        CompactLayout(page);
    ShowItemText(page, FirstPageText + 3, "");
}

// The reason for the error report: the engine's message with MessagePath,
// or the path and the system's own text for a failed copy. True when the
// reason is the system's, so in its code page rather than the texts'.
static bool FormatReason(char* reason) {
    if (!ReportsSystemError()) {
        FormatMessageText(reason, static_cast<u32>(engineState));
        return false;
    }
    wsprintfA(reason, "%s: ", MessagePath);
    u32 length = static_cast<u32>(lstrlenA(reason));
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, systemError, 0,
                   reason + length, SystemMessageLength, nullptr);
    return true;
}

static void ShowFailure(HWND page) {
    RECT text, last;
    GetWindowRect(Control(page, FirstPageText), &text);
    GetWindowRect(Control(page, FirstPageText + 2), &last);
    ShowWindow(Control(page, FirstPageText + 1), SW_HIDE);
    ShowWindow(Control(page, FirstPageText + 2), SW_HIDE);
    SetWindowPos(Control(page, FirstPageText), nullptr, 0, 0, text.right - text.left, last.bottom - text.top,
                 SWP_NOMOVE | SWP_NOZORDER);
    char* report;
    if (engineState == InstallationDeclined) {
        ShowItemText(page, FirstPageText, LookupText(MessageTexts, InstallationDeclined));
    } else if (AllocateZeroedBlock(ReportCapacity, &report)) {
        char* reason = report + ReportCapacity / 2;
        const char* format = LookupText(FinishTexts, ErrorFormat);
        if (FormatReason(reason))
            FormatTextWithPath(report, format, reason);
        else
            FormatTextWithText(report, format, reason);
        ShowItemText(page, FirstPageText, report);
        ReleaseBlock(&report);
    }
    documentEntry = launchEntry = screenSaverEntry = nullptr;
}

static void OpenPage(HWND page) {
    if (LookupText(FinishTexts, RestartRequest)[0] != '\0') restartNeeded = true;
    if (engineState != NoEngineError) restartNeeded = false;
    SetUpPage(page, CancelBit | CancelWithoutAsking);
    ShowItemText(page, FirstPageText + 3, "");
    ShowWindow(Control(page, ViewButton), SW_HIDE);
    CheckDlgButton(page, LaunchBox, launchChecked ? BST_CHECKED : BST_UNCHECKED);
    ShowWindow(Control(page, LaunchBox), SW_HIDE);
    if (engineState == NoEngineError) FindUnreplacedEntry();
    if (engineState == NoEngineError)
        ShowSuccess(page);
    else
        ShowFailure(page);
    SetFocus(GetDlgItem(frameWindow, IDCANCEL));
}

INT_PTR CALLBACK FinishPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        OpenPage(page);
        return FALSE;
    }
    if (message == WM_COMMAND) {
        switch (LOWORD(wParam)) {
            case IDOK:
            case IDCANCEL: pageResult = PageCancelled; return AnswerHandled(page);
            case ViewButton: OpenDocument(); return AnswerHandled(page);
            case LaunchBox: launchChecked = IsDlgButtonChecked(page, LaunchBox) == BST_CHECKED; return AnswerHandled(page);
            default: break;
        }
    }
    return ColourControl(page, message, wParam, lParam);
}
