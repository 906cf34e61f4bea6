#include "common/display_text.h"

#include <string.h>

#include "common/helpers.h"
#include "common/paths.h"
#include "common/platform.h"
#include "common/window_texts.h"

bool ShowsWideTexts() { return displayCodePage != 0 && IsNtPlatform() && displayCodePage != GetACP(); }

u8 DisplayCharacterSet() {
    CHARSETINFO info;
    if (displayCodePage == 0 ||
        !TranslateCharsetInfo(reinterpret_cast<DWORD*>(static_cast<UINT_PTR>(displayCodePage)), &info,
                              TCI_SRCCODEPAGE))
        return DEFAULT_CHARSET;
    return static_cast<u8>(info.ciCharset);
}

// `text` (in code page `from`) as a wide text in a new block; null when it
// cannot be converted or there is no memory.
static WCHAR* WideTextOf(const char* text, u32 from) {
    int count = MultiByteToWideChar(from, 0, text, -1, nullptr, 0);
    WCHAR* wide;
    if (count <= 0 || !AllocateBlock(static_cast<u32>(count) * sizeof(WCHAR), &wide)) return nullptr;
    MultiByteToWideChar(from, 0, text, -1, wide, count);
    return wide;
}

// The wide form of a shown text when the wide calls are the ones to use.
static WCHAR* WideShownText(const char* text) { return ShowsWideTexts() ? WideTextOf(text, displayCodePage) : nullptr; }

void PathForDisplay(const char* path, char* out, u32 capacity) {
    WCHAR* wide = ShowsWideTexts() ? WideTextOf(path, CP_ACP) : nullptr;
    if (wide == nullptr) {
        CopyPath(out, path, capacity);
        return;
    }
    int written = WideCharToMultiByte(displayCodePage, 0, wide, -1, out, static_cast<int>(capacity), nullptr, nullptr);
    if (written == 0) CopyPath(out, path, capacity);
    out[capacity - 1] = '\0';
    ReleaseBlock(&wide);
}

void ShowWindowText(HWND window, const char* text) {
    WCHAR* wide = WideShownText(text);
    if (wide == nullptr) {
        SetWindowTextA(window, text);
        return;
    }
    SetWindowTextW(window, wide);
    ReleaseBlock(&wide);
}

void ShowItemText(HWND dialog, int id, const char* text) { ShowWindowText(GetDlgItem(dialog, id), text); }

int ShowMessageBox(HWND owner, const char* text, const char* caption, u32 style) {
    WCHAR* wideText = WideShownText(text);
    WCHAR* wideCaption = WideShownText(caption);
    int answer = wideText != nullptr && wideCaption != nullptr ? MessageBoxW(owner, wideText, wideCaption, style)
                                                               : MessageBoxA(owner, text, caption, style);
    ReleaseBlock(&wideText);
    ReleaseBlock(&wideCaption);
    return answer;
}

void DrawShownText(HDC dc, const char* text, RECT* area, u32 format) {
    WCHAR* wide = WideShownText(text);
    if (wide == nullptr) {
        DrawTextA(dc, text, -1, area, format);
        return;
    }
    DrawTextW(dc, wide, -1, area, format);
    ReleaseBlock(&wide);
}

HWND CreateShownDialog(HINSTANCE instance, const void* dialogTemplate, HWND owner, DLGPROC procedure, LPARAM parameter) {
    if (ShowsWideTexts())
        return CreateDialogIndirectParamW(instance, static_cast<LPCDLGTEMPLATEW>(dialogTemplate), owner, procedure,
                                          parameter);
    return CreateDialogIndirectParamA(instance, static_cast<LPCDLGTEMPLATEA>(dialogTemplate), owner, procedure,
                                      parameter);
}

INT_PTR RunShownDialog(HINSTANCE instance, const void* dialogTemplate, HWND owner, DLGPROC procedure, LPARAM parameter) {
    if (ShowsWideTexts())
        return DialogBoxIndirectParamW(instance, static_cast<LPCDLGTEMPLATEW>(dialogTemplate), owner, procedure,
                                       parameter);
    return DialogBoxIndirectParamA(instance, static_cast<LPCDLGTEMPLATEA>(dialogTemplate), owner, procedure,
                                   parameter);
}

// On NT the class is always a Unicode one: it may be registered before the
// texts are known, and a Unicode window takes ANSI texts just as well.
// Class names are ASCII: the system's code page converts them.
bool RegisterShownClass(const WNDCLASSA& windowClass) {
    if (!IsNtPlatform()) return RegisterClassA(&windowClass) != 0;
    WCHAR* name = WideTextOf(windowClass.lpszClassName, CP_ACP);
    if (name == nullptr) return false;
    WNDCLASSW wide;
    memcpy(&wide, &windowClass, sizeof wide);  // the same layout but for the two name pointers
    wide.lpszMenuName = nullptr;
    wide.lpszClassName = name;
    bool registered = RegisterClassW(&wide) != 0;
    ReleaseBlock(&name);
    return registered;
}

HWND CreateShownWindow(DWORD extendedStyle, const char* className, const char* title, DWORD style, int x, int y,
                       int width, int height, HWND parent, HINSTANCE instance) {
    WCHAR* wideTitle = WideShownText(title);
    WCHAR* wideClass = wideTitle != nullptr ? WideTextOf(className, CP_ACP) : nullptr;
    HWND window = wideClass != nullptr ? CreateWindowExW(extendedStyle, wideClass, wideTitle, style, x, y, width, height,
                                                         parent, nullptr, instance, nullptr)
                                       : CreateWindowExA(extendedStyle, className, title, style, x, y, width, height,
                                                         parent, nullptr, instance, nullptr);
    ReleaseBlock(&wideTitle);
    ReleaseBlock(&wideClass);
    return window;
}

LRESULT DefaultWindowAnswer(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return IsWindowUnicode(window) ? DefWindowProcW(window, message, wParam, lParam)
                                   : DefWindowProcA(window, message, wParam, lParam);
}
