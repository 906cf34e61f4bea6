#include "uninstall/progress_window.h"

#include <commctrl.h>

#include "common/platform.h"
#include "common/system_libraries.h"
#include "common/window_texts.h"

static const char ProgressClass[] = "KelvoUninstallClass";
static const int WindowWidth = 420;
static const int WindowHeight = 120;
static const int Margin = 12;
static const int LineHeight = 20;
static const int TextId = 1;
static const int BarId = 2;
static const DWORD RedrawInterval = 40;  // ms

static u32 stepsDone;
static DWORD lastRedraw;

static void PumpMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

HWND OpenProgressWindow(HINSTANCE instance, const char* caption, u32 steps) {
    // The common controls are no KnownDLL: they come from the system folder.
    typedef void(WINAPI * InitFunction)();
    InitFunction initControls = reinterpret_cast<InitFunction>(SystemFunction("comctl32.dll", "InitCommonControls"));
    if (initControls != nullptr) initControls();
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = IsNtPlatform() ? DefWindowProcW : DefWindowProcA;  // the class's form
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_WAIT));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = ProgressClass;
    RegisterShownClass(windowClass);
    int x = (GetSystemMetrics(SM_CXSCREEN) - WindowWidth) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - WindowHeight) / 2;
    HWND window = CreateShownWindow(WS_EX_DLGMODALFRAME, ProgressClass, caption, WS_POPUP | WS_CAPTION, x, y,
                                    WindowWidth, WindowHeight, nullptr, instance);
    if (window == nullptr) return nullptr;
    RECT client;
    GetClientRect(window, &client);
    int width = client.right - 2 * Margin;
    HWND text = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_PATHELLIPSIS | SS_NOPREFIX, Margin,
                                Margin, width, LineHeight, window, reinterpret_cast<HMENU>(TextId), instance, nullptr);
    SendMessageA(text, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), 0);
    HWND bar = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, Margin, Margin + 2 * LineHeight, width,
                               LineHeight, window, reinterpret_cast<HMENU>(BarId), instance, nullptr);
    SendMessageA(bar, PBM_SETRANGE32, 0, static_cast<LPARAM>(steps));
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    PumpMessages();
    return window;
}

void ShowProgressStep(HWND window, const char* text) {
    stepsDone++;
    DWORD now = GetTickCount();
    if (window == nullptr || now - lastRedraw < RedrawInterval) return;
    lastRedraw = now;
    ShowItemText(window, TextId, text);
    SendDlgItemMessageA(window, BarId, PBM_SETPOS, stepsDone, 0);
    PumpMessages();
}

void CloseProgressWindow(HWND window) {
    if (window != nullptr) DestroyWindow(window);
    PumpMessages();
}
