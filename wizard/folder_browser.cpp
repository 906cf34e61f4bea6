#include "wizard/folder_browser.h"

#include <commdlg.h>
#include <stddef.h>

#include "archive/catalogue.h"
#include "archive/texts.h"
#include "common/helpers.h"
#include "common/paths.h"
#include "common/system_libraries.h"
#include "common/window_texts.h"
#include "wizard/dialog_helpers.h"
#include "wizard/templates.h"

// Posted with value 1, this command ends the system dialog with a true result.
const WPARAM EndWithOk = 3;
// The structure's size in its oldest form, which every system accepts: up
// to its template name. 76 bytes on 32-bit Windows; the pointers in it make
// it larger on 64-bit Windows, which refuses any other size.
const DWORD OldFileDialogSize = offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR);
static_assert(sizeof(void*) != 4 || OldFileDialogSize == 76, "the oldest dialog structure");

static UINT selectionChanged;  // "commdlg_LBSelChangedNotify"
static char* selectedFolder;
static bool hookReady;

// Centres `dialog` over its owner, or over the screen without one, never
// beyond the top-left corner.
static void CentreOverOwner(HWND dialog) {
    RECT own, owner;
    GetWindowRect(dialog, &own);
    HWND ownerWindow = GetWindow(dialog, GW_OWNER);
    if (ownerWindow != nullptr) {
        GetWindowRect(ownerWindow, &owner);
    } else {
        SetRect(&owner, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    }
    int x = owner.left + ((owner.right - owner.left) - (own.right - own.left)) / 2;
    int y = owner.top + ((owner.bottom - owner.top) - (own.bottom - own.top)) / 2;
    SetWindowPos(dialog, nullptr, x < 0 ? 0 : x, y < 0 ? 0 : y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

static void SetUpBrowser(HWND dialog) {
    ApplyControlFont(dialog);
    SetDlgItemTextA(dialog, BrowseFolderEdit, selectedFolder);
    hookReady = true;
    ShowWindowText(dialog, LookupText(MessageTexts, BrowseCaption));
    ShowItemText(dialog, BrowseFolderLabel, LookupText(MessageTexts, FolderLabelText));
    ShowItemText(dialog, BrowseDrivesLabel, LookupText(MessageTexts, DrivesLabelText));
    ShowItemText(dialog, IDOK, LookupText(ButtonTexts, BrowseOkCaption));
    ShowItemText(dialog, IDCANCEL, LookupText(ButtonTexts, StopCaption));
    CentreOverOwner(dialog);
}

// The dialog makes each folder the user opens the current directory.
static void TakeCurrentFolder(HWND dialog) {
    GetFullPathNameA(".", PathCapacity, selectedFolder, nullptr);
    OemToCharA(selectedFolder, selectedFolder);
    SetDlgItemTextA(dialog, BrowseFolderEdit, selectedFolder);
}

static UINT_PTR CALLBACK FolderBrowserHook(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        SetUpBrowser(dialog);
        return TRUE;
    }
    if (message == selectionChanged && hookReady) {
        TakeCurrentFolder(dialog);
    } else if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
        // A folder typed into the edit box is taken as it stands.
        GetDlgItemTextA(dialog, BrowseFolderEdit, selectedFolder, PathCapacity);
        if (selectedFolder[0] != '\0') PostMessageA(dialog, WM_COMMAND, EndWithOk, 1);
    }
    return FALSE;
}

// The file dialog's library is loaded from the system folder when a browser
// first opens: linked in, it would load at every start, and with it the
// printer support it uses.
typedef BOOL(WINAPI* FileDialogFunction)(OPENFILENAMEA* dialog);
static FileDialogFunction SaveFileDialog() {
    return reinterpret_cast<FileDialogFunction>(SystemFunction("comdlg32.dll", "GetSaveFileNameA"));
}

BOOL BrowseForFolder(HWND owner, char* path) {
    if (selectionChanged == 0) selectionChanged = RegisterWindowMessageA("commdlg_LBSelChangedNotify");
    char* fileName = nullptr;
    // A template given by handle must be a fixed block: with a moveable
    // one some systems show an empty dialog.
    void* browseTemplate = CopyTemplate(BrowseTemplate);
    BOOL chosen = FALSE;
    if (browseTemplate != nullptr && AllocateZeroedBlock(PathCapacity, &selectedFolder) &&
        AllocateZeroedBlock(PathCapacity, &fileName)) {
        CopyPath(selectedFolder, path, PathCapacity);
        OPENFILENAMEA dialog = {};
        dialog.lStructSize = OldFileDialogSize;
        dialog.hwndOwner = owner;
        dialog.hInstance = static_cast<HINSTANCE>(GlobalHandle(browseTemplate));
        dialog.lpstrFilter = "*.*\0*.*\0";
        dialog.nFilterIndex = 1;
        dialog.lpstrFile = fileName;
        dialog.nMaxFile = PathCapacity;
        dialog.lpstrInitialDir = selectedFolder;
        dialog.Flags = OFN_ENABLEHOOK | OFN_ENABLETEMPLATEHANDLE;
        dialog.lpfnHook = FolderBrowserHook;
        hookReady = false;
        FileDialogFunction showDialog = SaveFileDialog();
        chosen = showDialog != nullptr && showDialog(&dialog);
        if (chosen) CopyPath(path, selectedFolder, PathCapacity);
    }
    FreeTemplate(browseTemplate);
    ReleaseBlock(&selectedFolder);
    ReleaseBlock(&fileName);
    return chosen;
}
