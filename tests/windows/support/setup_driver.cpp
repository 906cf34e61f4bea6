#include "tests/support/setup_driver.h"

#include <vector>

#include "tests/support/dialogs.h"

namespace {

const char MainWindowClass[] = "KelvoClass";
const DWORD PollInterval = 50;      // ms between looks at the windows
const UINT AnswerLimit = 5000;      // ms a window may take to answer a sent message
const DWORD ExitAfterTermination = 5000;  // ms

struct WindowSearch {
    DWORD processId;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectProcessWindow(HWND window, LPARAM context) {
    WindowSearch* search = reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId) search->found.push_back(window);
    return TRUE;
}

// Every top-level window of process `id`, topmost first.
std::vector<HWND> TopLevelWindows(DWORD id) {
    WindowSearch search = {id, {}};
    EnumWindows(CollectProcessWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The direct children of `parent`.
std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

bool IsChildWindow(HWND window) { return (GetWindowLongA(window, GWL_STYLE) & WS_CHILD) != 0; }

bool HasCaption(HWND window) { return (GetWindowLongA(window, GWL_STYLE) & WS_CAPTION) == WS_CAPTION; }

// A control a person can reach: there, visible and enabled.
bool CanBeUsed(HWND control) { return control != nullptr && IsWindowVisible(control) && IsWindowEnabled(control); }

// BM_CLICK makes the button press and release itself: it checks an
// automatic check box or radio button and tells its dialog, as a mouse
// click does. Posted, so a message box the click opens blocks nobody.
bool Click(HWND control) {
    if (!CanBeUsed(control)) return false;
    return PostMessageA(control, BM_CLICK, 0, 0) != 0;
}

bool SendWithin(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR* result) {
    return SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG | SMTO_BLOCK, AnswerLimit,
                               result) != 0;
}

// Tells a control's dialog what the control did, as the control itself would.
void Notify(HWND control, WORD code) {
    PostMessageA(GetParent(control), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control), code),
                 reinterpret_cast<LPARAM>(control));
}

DWORD RowBytes(int width) { return (static_cast<DWORD>(width) * 3 + 3) & ~3ul; }

bool WriteAll(HANDLE file, const void* data, DWORD size) {
    DWORD written = 0;
    return WriteFile(file, data, size, &written, nullptr) && written == size;
}

bool WriteBmpFile(const std::string& path, int width, int height, const void* bits) {
    const DWORD headers = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    const DWORD imageSize = RowBytes(width) * height;
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;  // "BM"
    file.bfSize = headers + imageSize;
    file.bfOffBits = headers;
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;  // positive: bottom-up rows
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    info.biSizeImage = imageSize;

    HANDLE out = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return false;
    bool written = WriteAll(out, &file, sizeof file) && WriteAll(out, &info, sizeof info) &&
                   WriteAll(out, bits, imageSize);
    CloseHandle(out);
    return written;
}

}  // namespace

SetupDriver::SetupDriver(const std::string& setup, const std::string& options) {
    std::string command = "\"" + setup + "\"" + (options.empty() ? "" : " " + options);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
        startError = GetLastError();
        return;
    }
    CloseHandle(started.hThread);
    process = started.hProcess;
    processId = started.dwProcessId;
}

SetupDriver::~SetupDriver() {
    if (process == nullptr) return;
    if (Running()) {
        TerminateProcess(process, 1);
        WaitForSingleObject(process, ExitAfterTermination);
    }
    CloseHandle(process);
}

bool SetupDriver::Running() const { return process != nullptr && WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }

bool SetupDriver::IsOwnWindow(HWND window) const {
    DWORD owner = 0;
    return window != nullptr && IsWindow(window) && GetWindowThreadProcessId(window, &owner) != 0 &&
           owner == processId;
}

template <class Find>
HWND SetupDriver::WaitFor(Find found, DWORD ms) {
    DWORD start = GetTickCount();
    for (;;) {
        bool running = Running();  // looked at first: a window found after the end is gone
        HWND window = found();
        if (window != nullptr) return window;
        if (!running || GetTickCount() - start >= ms) return nullptr;
        if (process != nullptr) WaitForSingleObject(process, PollInterval);
    }
}

bool SetupDriver::WaitForMainWindow(DWORD ms) {
    return WaitFor([this] {
               HWND main = MainWindow();
               return main != nullptr && IsWindowVisible(main) ? main : nullptr;
           },
                   ms) != nullptr;
}

HWND SetupDriver::MainWindow() const {
    for (HWND window : TopLevelWindows(processId))
        if (HasWindowClass(window, MainWindowClass)) return window;
    return nullptr;
}

// The frame is a dialog inside the main window or owned by it; the one with
// a Back button wins, as message boxes are owned by the main window too.
HWND SetupDriver::Frame() const {
    if (IsOwnWindow(frame)) return frame;
    frame = nullptr;
    HWND main = MainWindow();
    if (main == nullptr) return nullptr;
    std::vector<HWND> candidates;
    for (HWND child : Children(main))
        if (HasWindowClass(child, DialogWindowClass)) candidates.push_back(child);
    for (HWND window : TopLevelWindows(processId))
        if (GetWindow(window, GW_OWNER) == main && HasWindowClass(window, DialogWindowClass)) candidates.push_back(window);
    // The frame is the dialog with a Back button: the restart dialog, also
    // owned by the main window, has none.
    for (HWND candidate : candidates)
        if (GetDlgItem(candidate, FrameBackButton) != nullptr) return frame = candidate;
    return nullptr;
}

// A page is a visible child dialog of the frame.
HWND SetupDriver::Page() const {
    HWND frameWindow = Frame();
    if (frameWindow == nullptr) return nullptr;
    for (HWND child : Children(frameWindow))
        if (HasWindowClass(child, DialogWindowClass) && IsChildWindow(child) && IsWindowVisible(child)) return child;
    return nullptr;
}

HWND SetupDriver::WaitForNewPage(HWND previous, DWORD ms) {
    return WaitFor([this, previous] {
        HWND page = Page();
        return page != previous ? page : nullptr;
    },
                   ms);
}

std::string SetupDriver::MainTitle() const { return WindowText(MainWindow()); }

std::string SetupDriver::FrameCaption() const { return WindowText(Frame()); }

std::string SetupDriver::PageTitle() const {
    HWND frameWindow = Frame();
    if (frameWindow != nullptr && HasCaption(frameWindow)) return WindowText(frameWindow);
    const std::string separator = " - ";
    std::string title = MainTitle();
    size_t at = title.find(separator);
    return at == std::string::npos ? "" : title.substr(at + separator.size());
}

std::string SetupDriver::PageText(int id) const {
    HWND page = Page();
    return page == nullptr ? "" : WindowText(GetDlgItem(page, id));
}

bool SetupDriver::PageHasControl(int id) const {
    HWND page = Page();
    return page != nullptr && GetDlgItem(page, id) != nullptr;
}

bool SetupDriver::PageControlEnabled(int id) const {
    HWND page = Page();
    HWND control = page == nullptr ? nullptr : GetDlgItem(page, id);
    return control != nullptr && IsWindowEnabled(control);
}

bool SetupDriver::PageControlChecked(int id) const {
    HWND page = Page();
    HWND control = page == nullptr ? nullptr : GetDlgItem(page, id);
    DWORD_PTR state = 0;
    return control != nullptr && SendWithin(control, BM_GETCHECK, 0, 0, &state) && state == BST_CHECKED;
}

bool SetupDriver::FrameButtonEnabled(int id) const {
    HWND frameWindow = Frame();
    HWND button = frameWindow == nullptr ? nullptr : GetDlgItem(frameWindow, id);
    return button != nullptr && IsWindowEnabled(button);
}

std::string SetupDriver::FrameButtonText(int id) const {
    HWND frameWindow = Frame();
    return frameWindow == nullptr ? "" : WindowText(GetDlgItem(frameWindow, id));
}

bool SetupDriver::ClickFrameButton(int id) {
    HWND frameWindow = Frame();
    return frameWindow != nullptr && Click(GetDlgItem(frameWindow, id));
}

bool SetupDriver::ClickPageControl(int id) {
    HWND page = Page();
    return page != nullptr && Click(GetDlgItem(page, id));
}

// A single-line edit box tells its dialog of WM_SETTEXT by itself
// (EN_CHANGE); a multi-line one does not, so the driver does.
bool SetupDriver::SetPageText(int id, const std::string& text) {
    HWND page = Page();
    HWND edit = page == nullptr ? nullptr : GetDlgItem(page, id);
    if (!CanBeUsed(edit) || !HasWindowClass(edit, "Edit")) return false;
    LONG style = GetWindowLongA(edit, GWL_STYLE);
    if (style & ES_READONLY) return false;
    DWORD_PTR done = 0;
    if (!SendWithin(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), &done) || !done) return false;
    if (style & ES_MULTILINE) Notify(edit, EN_CHANGE);
    return true;
}

// A click on an item selects it; the dialog hears of it from a list box
// only when the list box has LBS_NOTIFY, from a combo box always.
bool SetupDriver::SelectListItem(int id, int index) {
    HWND page = Page();
    HWND list = page == nullptr ? nullptr : GetDlgItem(page, id);
    if (!CanBeUsed(list)) return false;
    DWORD_PTR selected = 0;
    if (HasWindowClass(list, "ListBox")) {
        if (!SendWithin(list, LB_SETCURSEL, index, 0, &selected) || static_cast<LRESULT>(selected) == LB_ERR)
            return false;
        if (GetWindowLongA(list, GWL_STYLE) & LBS_NOTIFY) Notify(list, LBN_SELCHANGE);
        return true;
    }
    if (HasWindowClass(list, "ComboBox")) {
        if (!SendWithin(list, CB_SETCURSEL, index, 0, &selected) || static_cast<LRESULT>(selected) == CB_ERR)
            return false;
        Notify(list, CBN_SELCHANGE);
        return true;
    }
    return false;
}

// A visible top-level dialog of the setup other than the frame: a message
// box (owned by the frame or the main window, or by nothing before the main
// window exists) or another dialog opened on top, such as a folder browser.
HWND SetupDriver::OpenMessageBox() const {
    HWND frameWindow = Frame();
    for (HWND window : TopLevelWindows(processId)) {
        if (window != frameWindow && HasWindowClass(window, DialogWindowClass) && IsWindowVisible(window)) return window;
    }
    return nullptr;
}

HWND SetupDriver::WaitForMessageBox(DWORD ms) {
    return WaitFor([this] { return OpenMessageBox(); }, ms);
}

std::string SetupDriver::MessageBoxText(HWND box) {
    std::string text;
    for (HWND child : Children(box)) {
        if (!HasWindowClass(child, "Static")) continue;
        std::string line = WindowText(child);
        if (line.empty()) continue;  // the icon
        text += (text.empty() ? "" : "\n") + line;
    }
    return text;
}

bool SetupDriver::HasButton(HWND box, int buttonId) {
    HWND button = GetDlgItem(box, buttonId);
    return button != nullptr && HasWindowClass(button, "Button");
}

bool SetupDriver::Answer(HWND box, int buttonId) {
    return HasButton(box, buttonId) && PressDialogButton(box, buttonId, DriverWaitLimit);
}

bool SetupDriver::textsAsUtf8;

// The wide text of a window, as UTF-8.
static std::string WindowTextInUtf8(HWND window) {
    std::vector<WCHAR> wide(4096, L'\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, wide.size(), reinterpret_cast<LPARAM>(wide.data()), SMTO_ABORTIFHUNG,
                             DriverWaitLimit, &got))
        GetWindowTextW(window, wide.data(), static_cast<int>(wide.size()));
    std::string text(4 * wide.size(), '\0');
    int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), -1, &text[0], static_cast<int>(text.size()), nullptr, nullptr);
    text.resize(bytes > 0 ? bytes - 1 : 0);
    return text;
}

std::string SetupDriver::WindowText(HWND window) {
    if (window == nullptr) return "";
    if (textsAsUtf8) return WindowTextInUtf8(window);
    DWORD_PTR length = 0;
    if (!SendWithin(window, WM_GETTEXTLENGTH, 0, 0, &length)) {
        // A busy setup: the text the window manager keeps.
        char kept[1024] = "";
        GetWindowTextA(window, kept, sizeof kept);
        return kept;
    }
    std::vector<char> text(length + 1, '\0');
    DWORD_PTR got = 0;
    if (!SendWithin(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), &got)) return "";
    return std::string(text.data(), got < text.size() ? got : text.size() - 1);
}

void SetupDriver::CloseMainWindow() {
    HWND main = MainWindow();
    if (main != nullptr) PostMessageA(main, WM_SYSCOMMAND, SC_CLOSE, 0);
}

bool SetupDriver::Screenshot(const std::string& bmpPath) {
    RECT desktop;
    GetWindowRect(GetDesktopWindow(), &desktop);
    const int width = desktop.right - desktop.left, height = desktop.bottom - desktop.top;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;

    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP picture = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool saved = false;
    if (memory != nullptr && picture != nullptr) {
        HGDIOBJ before = SelectObject(memory, picture);
        bool copied = BitBlt(memory, 0, 0, width, height, screen, desktop.left, desktop.top, SRCCOPY | CAPTUREBLT);
        GdiFlush();
        SelectObject(memory, before);
        saved = copied && WriteBmpFile(bmpPath, width, height, bits);
    }
    if (picture != nullptr) DeleteObject(picture);
    if (memory != nullptr) DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return saved;
}

DWORD SetupDriver::WaitForExit(DWORD ms) {
    DWORD code = STILL_ACTIVE;
    if (process != nullptr && WaitForSingleObject(process, ms) == WAIT_OBJECT_0) GetExitCodeProcess(process, &code);
    return code;
}
