// The destination page: shows and (when the set allows it) changes the
// folder the set is installed into, with the space it needs and the space
// free, and checks the folder before the wizard goes on.
#include "archive/catalogue.h"
#include "archive/script.h"
#include "archive/texts.h"
#include "common/helpers.h"
#include "common/paths.h"
#include "common/window_texts.h"
#include "engine/folders.h"
#include "engine/messages.h"
#include "engine/setup_state.h"
#include "wizard/dialog_helpers.h"
#include "wizard/disk_space.h"
#include "wizard/folder_browser.h"
#include "wizard/page_loop.h"
#include "wizard/pages.h"

// Space required is counted in whole 32 KB blocks per file.
const u32 RequiredBlock = 32768;
const u32 ReportCapacity = 1024;

static void ShowMegabytes(HWND page, int id, u64 megabytes) {
    char text[MessageCapacity];
    FormatTextWithNumber(text, LookupText(DestinationTexts, MegabytesFormat), static_cast<u32>(megabytes));
    ShowItemText(page, id, text);
}

static void ShowSpaceAvailable(HWND page) {
    u32 kilobytes = GetFreeKilobytes(DestinationPath);
    if (kilobytes == UnknownFreeSpace) kilobytes = 0;
    ShowMegabytes(page, AvailableFigure, (static_cast<u64>(kilobytes) + 1023) / 1024);
}

static void ShowSpaceRequired(HWND page) {
    u64 bytes = 0;
    const FileEntry* entry = currentFirstEntry;
    for (u32 i = 0; i < currentFileCount; i++, entry = NextFileEntry(entry))
        bytes += (static_cast<u64>(entry->size) + RequiredBlock - 1) / RequiredBlock * RequiredBlock;
    ShowMegabytes(page, RequiredFigure, (bytes + 1048575) / 1048576);
}

static void ReadFolder(HWND page) { GetDlgItemTextA(page, FolderEdit, DestinationPath, PathCapacity); }

static void ShowFolder(HWND page) {
    RemoveTrailingBackslash(DestinationPath);
    SetDlgItemTextA(page, FolderEdit, DestinationPath);
}

// Shows message n of table 6, with the destination for a "%s" in it.
static i32 ShowDestinationMessage(u32 n, u32 style) {
    char text[MessageCapacity];
    SetMessagePath(DestinationPath);
    FormatMessageText(text, n);
    return ShowMessage(text, style);
}

static BOOL OpenPage(HWND page) {
    SetUpPage(page, BackBit | NextBit | CancelBit);
    ShowFolder(page);
    AppendBackslash(DestinationPath);
    ShowItemText(page, RequiredLabel, LookupText(DestinationTexts, RequiredLabelText));
    ShowItemText(page, AvailableLabel, LookupText(DestinationTexts, AvailableLabelText));
    const char* browseCaption = LookupText(ButtonTexts, BrowseButtonCaption);
    if (browseCaption[0] != '\0') ShowItemText(page, BrowseButton, browseCaption);
    ShowSpaceRequired(page);
    ShowSpaceAvailable(page);
    if (InstallSetNumber(currentSet, SetFlagsField) & DestinationChangeable) {
        SetFocus(GetDlgItem(page, FolderEdit));
        return FALSE;
    }
    SendDlgItemMessageA(page, FolderEdit, EM_SETREADONLY, TRUE, 0);
    EnableWindow(GetDlgItem(page, BrowseButton), FALSE);
    return TRUE;
}

// Makes the typed folder absolute and enters it, creating it when the user
// agrees. False when the page must stay.
static bool EnterFolder(HWND page) {
    ReadFolder(page);
    RemoveTrailingBackslash(DestinationPath);
    if (GetFullPathNameA(DestinationPath, WorkPathCapacity, WorkPath, nullptr) != 0 && WorkPath[0] != '\0')
        CopyPath(DestinationPath, WorkPath, PathCapacity);
    if (SetCurrentDirectoryA(DestinationPath)) return true;
    if (ShowDestinationMessage(CreateFolderQuestion, QuestionStyle) != IDYES) return false;
    AppendBackslash(DestinationPath);
    CreateFolderPath(DestinationPath);
    RemoveTrailingBackslash(DestinationPath);
    if (SetCurrentDirectoryA(DestinationPath)) return true;
    ShowDestinationMessage(InvalidFolderMessage, ReportStyle);
    return false;
}

// Reports a file that cannot be replaced under the check's heading.
static void ReportInaccessibleFile(DiskCheck result) {
    char* report;
    if (!AllocateBlock(ReportCapacity, &report)) return;
    wsprintfA(report, "%.500s\n\n", LookupText(MessageTexts, CheckFailedHeading));
    char message[MessageCapacity];
    FormatMessageText(message, result);
    u32 used = static_cast<u32>(lstrlenA(report));
    lstrcpynA(report + used, message, static_cast<int>(ReportCapacity - used));
    ShowMessage(report, ReportStyle);
    ReleaseBlock(&report);
}

// The check behind Next; true when the wizard may go on.
static bool CheckFolder(HWND page) {
    if (!EnterFolder(page)) return false;
    AppendBackslash(DestinationPath);
    ShowItemText(page, (FirstPageText + 1), LookupText(MessageTexts, CheckingMessage));
    ShowItemText(page, (FirstPageText + 1) + 1, "");
    ShowItemText(page, (FirstPageText + 1) + 2, "");
    DiskCheck result = CheckDiskSpace();
    if (result == NotEnoughSpace && ShowDestinationMessage(NotEnoughSpaceQuestion, QuestionStyle) == IDYES)
        result = DiskCheckPassed;
    if (result == FileNotAccessible) ReportInaccessibleFile(result);
    if (result == DiskCheckPassed) return true;
    for (u32 i = 2; i <= 4; i++) ShowItemText(page, (FirstPageText + 1) + static_cast<int>(i) - 2, LookupText(DestinationTexts, i));
    return false;
}

static void Browse(HWND page) {
    ReadFolder(page);
    BrowseForFolder(page, DestinationPath);
    ShowFolder(page);
}

static void GoBack() {
    if (setupScript.setCount > 1)
        GoToPage(SetSelectionPage);
    else
        GoToPage(HasInformationText() ? InformationPage : WelcomePage);
}

// Commands the page deals with itself; false leaves one to the frame.
static bool HandleCommand(HWND page, int id) {
    if (id == BrowseButton) {
        Browse(page);
        return true;
    }
    if (fixedPageNumber != NoFixedPage) return false;  // one page alone: the frame decides
    switch (id) {
        case FolderEdit:
            ReadFolder(page);
            ShowSpaceAvailable(page);
            return false;
        case BackButton: GoBack(); return true;
        case IDOK: return !CheckFolder(page);
        default: return false;
    }
}

INT_PTR CALLBACK DestinationPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) return OpenPage(page);
    if (message == WM_COMMAND && HandleCommand(page, LOWORD(wParam))) return AnswerHandled(page);
    return ColourControl(page, message, wParam, lParam);
}
