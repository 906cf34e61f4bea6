#include "wizard/page_loop.h"

#include "archive/catalogue.h"
#include "archive/script.h"
#include "archive/texts.h"
#include "common/helpers.h"
#include "common/window_texts.h"
#include "engine/setup_state.h"
#include "wizard/dialog_helpers.h"
#include "wizard/pages.h"
#include "wizard/templates.h"


const u32 TitleCapacity = 1024;

struct PageEntry {
    u8 templateIndex;
    u8 textTable;
    DLGPROC procedure;
};

// Page number -> template, text table and procedure. Page 3 and the end
// entry show nothing.
static const PageEntry pageTable[] = {
    {TextPageTemplate, WelcomeTexts, WelcomePageProc},
    {InformationTemplate, InformationTexts, InformationPageProc},
    {SetSelectionTemplate, SetSelectionTexts, SetSelectionPageProc},
    {NoTemplate, 0, nullptr},
    {DestinationTemplate, DestinationTexts, DestinationPageProc},
    {TextPageTemplate, ConfirmationTexts, ConfirmationPageProc},
    {ProgressTemplate, ProgressTexts, ProgressPageProc},
    {FinishTemplate, FinishTexts, FinishPageProc},
    {NoTemplate, 0, nullptr},
};
const i32 PageCount = sizeof pageTable / sizeof pageTable[0];

static const PageEntry& CurrentEntry() {
    static const PageEntry none = {NoTemplate, 0, nullptr};
    return currentPage >= 0 && currentPage < PageCount ? pageTable[currentPage] : none;
}

// Takes the next message into the frame, the page or the window it is for.
static void DispatchOneMessage() {
    MSG message;
    if (GetMessageA(&message, nullptr, 0, 0) <= 0) {
        pageResult = PageCancelled;  // the quit message ends the page
        return;
    }
    if (IsDialogMessageA(frameWindow, &message) || IsDialogMessageA(pageWindow, &message)) return;
    TranslateMessage(&message);
    DispatchMessageA(&message);
}

i32 RunPage(u32 templateIndex, DLGPROC procedure, LPARAM parameter) {
    pageResult = PageRunning;
    if (templateIndex == NoTemplate) return PageCancelled;
    void* pageTemplate = CopyTemplate(templateIndex);
    if (pageTemplate == nullptr) return PageNext;  // a page that cannot be shown is passed
    HWND page = CreateShownDialog(setupInstance, pageTemplate, frameWindow, procedure, parameter);
    if (page == nullptr) {
        FreeTemplate(pageTemplate);
        return PageCancelled;
    }
    while (pageResult == PageRunning) DispatchOneMessage();
    DestroyWindow(page);
    pageWindow = nullptr;
    FreeTemplate(pageTemplate);
    return pageResult;
}

i32 PageAfter(i32 result) {
    switch (result) {
        case PageNext: return currentPage >= EndEntry ? WizardEnded : currentPage + 1;
        case PageCancelled: return WizardEnded;
        case PageBack: return currentPage > 0 ? currentPage - 1 : 0;
        default: return currentPage;
    }
}

void RunPageLoop() {
    currentPage = fixedPageNumber != NoFixedPage ? fixedPageNumber : static_cast<i32>(WelcomePage);
    do {
        const PageEntry& entry = CurrentEntry();
        i32 result = RunPage(entry.templateIndex, entry.procedure, 0);
        if (fixedPageNumber != NoFixedPage) return;  // one page, once
        currentPage = PageAfter(result);
    } while (currentPage != WizardEnded);
}

// Moves the page to the top-left corner of the frame's page area.
static void PlacePage(HWND page) {
    RECT area;
    GetWindowRect(GetDlgItem(frameWindow, PageArea), &area);
    POINT corner = {area.left, area.top};
    ScreenToClient(frameWindow, &corner);
    SetWindowPos(page, nullptr, corner.x, corner.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

// Windowed: "setup title - page title" on the main window; full screen: the
// page title on the frame's caption. An empty page title changes nothing.
static void ShowTitles(u32 table) {
    const char* setupTitle = LookupText(MessageTexts, SetupTitleText);
    const char* pageTitle = LookupText(table, PageTitleText);
    ShowWindowText(mainWindow, setupTitle);
    if (pageTitle[0] == '\0') return;
    if (setupScript.setupFlags & FullScreenBackground) {
        ShowWindowText(frameWindow, pageTitle);
        return;
    }
    char* title;
    if (!AllocateBlock(TitleCapacity, &title)) return;
    wsprintfA(title, "%.500s - %.500s", setupTitle, pageTitle);
    ShowWindowText(mainWindow, title);
    ReleaseBlock(&title);
}

void SetUpPage(HWND page, u32 mask) {
    pageWindow = page;
    ApplyControlFont(page);
    PlacePage(page);
    u32 table = CurrentEntry().textTable;
    ShowTitles(table);
    for (u32 i = 1; i <= 4; i++) {
        HWND control = GetDlgItem(page, 999 + i);
        if (control != nullptr) ShowWindowText(control, LookupText(table, i));
    }
    SetFrameButtonText(BackBit, 0);
    SetFrameButtonText(NextBit, 1);
    SetFrameButtonText(CancelBit, 2);
    if (fixedPageNumber != NoFixedPage) mask |= CancelWithoutAsking;
    EnableFrameButtons(mask);
}

void EnableFrameButtons(u32 mask) {
    buttonMask = mask;
    EnableWindow(GetDlgItem(frameWindow, BackButton), (mask & BackBit) != 0);
    EnableWindow(GetDlgItem(frameWindow, IDOK), (mask & NextBit) != 0);
    EnableWindow(GetDlgItem(frameWindow, IDCANCEL), (mask & CancelBit) != 0);
}

// The frame button named by a button bit, or 0.
static int FrameButtonId(u32 button) {
    switch (button) {
        case BackBit: return BackButton;
        case NextBit: return IDOK;
        case CancelBit: return IDCANCEL;
        default: return 0;
    }
}

void SetFrameButtonText(u32 button, u32 string) {
    int id = FrameButtonId(button);
    if (id != 0) ShowItemText(frameWindow, id, LookupText(ButtonTexts, string));
}

void EndPage(u32 button) {
    int id = FrameButtonId(button);
    if (id != 0) pageResult = id == BackButton ? PageBack : id;
}

void GoToPage(i32 page) {
    currentPage = page - 1;
    EndPage(NextBit);
}
