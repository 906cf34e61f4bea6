// Finding dialogs and message boxes on screen and reading what they show,
// for the Windows tests and kelvo-driver. No test framework: failures come
// back as null windows and empty texts.
#pragma once
#include <windows.h>

#include <string.h>

#include <string>

const char DialogWindowClass[] = "#32770";  // dialogs and message boxes
const DWORD DialogPollInterval = 50;         // ms between looks at the windows
const DWORD DialogWaitLimit = 20000;         // ms; only reached when something is wrong

// True when `window`'s class is `className`, in any case.
inline bool HasWindowClass(HWND window, const char* className) {
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    return lstrcmpiA(name, className) == 0;
}

const DWORD AnyProcess = 0;  // for FindVisibleDialog: a dialog of any process

namespace dialogs_detail {
struct DialogSearch {
    DWORD processId;
    HWND found;
};

inline BOOL CALLBACK TakeVisibleDialog(HWND window, LPARAM context) {
    DialogSearch& search = *reinterpret_cast<DialogSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if ((search.processId != AnyProcess && owner != search.processId) || !IsWindowVisible(window) ||
        !HasWindowClass(window, DialogWindowClass))
        return TRUE;
    search.found = window;
    return FALSE;
}

inline BOOL CALLBACK KeepLongestStaticText(HWND child, LPARAM longest) {
    char text[1024] = "";
    if (HasWindowClass(child, "Static") && GetWindowTextA(child, text, sizeof text) > 0) {
        std::string& kept = *reinterpret_cast<std::string*>(longest);
        if (strlen(text) > kept.size()) kept = text;
    }
    return TRUE;
}
}  // namespace dialogs_detail

// The topmost visible dialog among the top-level windows of process
// `processId`, or of any process with AnyProcess; null when there is none.
inline HWND FindVisibleDialog(DWORD processId) {
    dialogs_detail::DialogSearch search = {processId, nullptr};
    EnumWindows(dialogs_detail::TakeVisibleDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// A visible dialog of this process, such as a modal box a test opened.
inline HWND FindOwnDialog() { return FindVisibleDialog(GetCurrentProcessId()); }

// Waits up to `ms` for a dialog of this process; null when none came.
inline HWND WaitForOwnDialog(DWORD ms) {
    for (DWORD waited = 0;; waited += DialogPollInterval) {
        HWND dialog = FindOwnDialog();
        if (dialog != nullptr || waited >= ms) return dialog;
        Sleep(DialogPollInterval);
    }
}

// Waits up to `ms` for a visible top-level window of class `className`
// titled `title`, of any process; null when none came.
inline HWND WaitForVisibleWindow(const char* className, const char* title, DWORD ms) {
    for (DWORD waited = 0;; waited += DialogPollInterval) {
        HWND window = FindWindowA(className, title);
        if (window != nullptr && IsWindowVisible(window)) return window;
        if (waited >= ms) return nullptr;
        Sleep(DialogPollInterval);
    }
}

// The text of control `id` of `dialog` ("" when there is none).
inline std::string DialogItemText(HWND dialog, int id) {
    char text[1024] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

// The message a message box shows: its longest static text (the icon's is
// empty). Works on the boxes of other processes too.
inline std::string MessageBoxText(HWND box) {
    std::string longest;
    EnumChildWindows(box, dialogs_detail::KeepLongestStaticText, reinterpret_cast<LPARAM>(&longest));
    return longest;
}

// Posts to `box` the command its button `button` sends when clicked (the
// buttons of a message box may not take a click before the box has the
// focus), and waits up to `ms` for the box to close, so that the next look
// for a box never finds this one again; false when it is still open.
inline bool PressDialogButton(HWND box, int button, DWORD ms) {
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
    for (DWORD waited = 0; IsWindow(box) && waited < ms; waited += 10) Sleep(10);
    return !IsWindow(box);
}
