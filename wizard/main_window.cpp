#include "wizard/main_window.h"

#include "archive/script.h"
#include "archive/texts.h"
#include "common/window_texts.h"
#include "engine/setup_state.h"
#include "wizard/background_window.h"

const char MainWindowClass[] = "KelvoClass";
const WORD SetupIconResource = 800;

static bool brushCreated;

void CreateButtonFaceBrush() {
    buttonFaceBrush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
    brushCreated = buttonFaceBrush != nullptr;
    if (!brushCreated) buttonFaceBrush = static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH));
}

void ReleaseButtonFaceBrush() {
    if (brushCreated) DeleteObject(buttonFaceBrush);
    buttonFaceBrush = nullptr;
    brushCreated = false;
}

bool RegisterMainWindowClass() {
    WNDCLASSA windowClass = {};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = setupInstance;
    windowClass.hIcon = LoadIconA(setupInstance, MAKEINTRESOURCEA(SetupIconResource));
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // the arrow
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    windowClass.lpszClassName = MainWindowClass;
    return RegisterShownClass(windowClass);
}

bool CreateMainWindow() {
    DWORD style = (setupScript.setupFlags & FullScreenBackground) ? FullScreenStyle : WindowedStyle;
    mainWindow = CreateShownWindow(0, MainWindowClass, LookupText(MessageTexts, SetupTitleText), style, 0, 0,
                                   screenWidth, screenHeight, nullptr, setupInstance);
    screenCentre.x = screenWidth / 2;
    screenCentre.y = screenHeight / 2;
    return mainWindow != nullptr;
}
