// The setup driver against the real setup program, built from
// tests/fixtures/projects/startup: it finds the setup's own windows (and no
// window of another process that looks like one), reads them, answers a
// message box, takes a screenshot of the desktop and closes the setup.
#include <windows.h>

#include <doctest/doctest.h>

#include <string>
#include <vector>

#include "tests/support/setup_driver.h"
#include "tests/support/win32_test_files.h"

namespace {

const char StartupProject[] = "startup";
const char SetupTitle[] = "Kelvo Start-up Test";
const DWORD CannotRun = static_cast<DWORD>(-1);  // the exit code of a setup that cannot load

std::string ClassOf(HWND window) {
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

DWORD ProcessOf(HWND window) {
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    return id;
}

// Keeps this process's messages moving for a while, so Wine puts what its
// windows drew on the screen.
void PumpMessages(DWORD ms) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        Sleep(20);
    }
}

// A window of this process dressed as a message box of the setup: a visible
// top-level dialog captioned with the setup title. The driver must pass it by.
class DecoyMessageBox {
public:
    DecoyMessageBox()
        : window(CreateWindowExA(0, "#32770", SetupTitle, WS_POPUP | WS_CAPTION | WS_VISIBLE, 20, 20, 200, 100,
                                 nullptr, nullptr, GetModuleHandleA(nullptr), nullptr)) {
        REQUIRE(window != nullptr);
    }
    ~DecoyMessageBox() { DestroyWindow(window); }
    HWND window;
};

// A topmost window of this process showing two known colours, one above the
// other, at a known place on the screen.
class ColourPatch {
public:
    static constexpr int Left = 40, Top = 30, Width = 96, Height = 64;
    static constexpr COLORREF Upper = RGB(250, 20, 120);
    static constexpr COLORREF Lower = RGB(10, 200, 60);

    ColourPatch()
        : window(CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, "Static", "", WS_POPUP | WS_VISIBLE, Left, Top,
                                 Width, Height, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr)) {
        REQUIRE(window != nullptr);
        PumpMessages(200);  // shown and painted by the Static class first
        HDC dc = GetDC(window);
        Fill(dc, 0, Upper);
        Fill(dc, Height / 2, Lower);
        ReleaseDC(window, dc);
        GdiFlush();
        PumpMessages(300);
    }
    ~ColourPatch() { DestroyWindow(window); }

private:
    static void Fill(HDC dc, int top, COLORREF colour) {
        RECT half = {0, top, Width, top + Height / 2};
        HBRUSH brush = CreateSolidBrush(colour);
        FillRect(dc, &half, brush);
        DeleteObject(brush);
    }
    HWND window;
};

u32 U32At(const std::string& bytes, size_t at) {
    return static_cast<u8>(bytes[at]) | static_cast<u8>(bytes[at + 1]) << 8 | static_cast<u8>(bytes[at + 2]) << 16 |
           static_cast<u32>(static_cast<u8>(bytes[at + 3])) << 24;
}

u32 U16At(const std::string& bytes, size_t at) { return static_cast<u8>(bytes[at]) | static_cast<u8>(bytes[at + 1]) << 8; }

// The fields of a .bmp file that a viewer reads first.
struct BmpHeader {
    u32 magic, fileSize, pixelsAt, infoSize, planes, bitsPerPixel, compression;
    i32 width, height;
};

BmpHeader ReadBmpHeader(const std::string& file) {
    REQUIRE(file.size() >= 54);
    return {U16At(file, 0),  U32At(file, 2),  U32At(file, 10),
            U32At(file, 14), U16At(file, 26), U16At(file, 28),
            U32At(file, 30), static_cast<i32>(U32At(file, 18)), static_cast<i32>(U32At(file, 22))};
}

// The colour at screen point (x, y) of a bottom-up 24-bit picture.
COLORREF PixelAt(const std::string& file, const BmpHeader& header, int x, int y) {
    size_t rowBytes = (static_cast<size_t>(header.width) * 3 + 3) & ~size_t(3);
    size_t at = header.pixelsAt + (header.height - 1 - y) * rowBytes + x * 3;
    REQUIRE(at + 3 <= file.size());
    return RGB(static_cast<u8>(file[at + 2]), static_cast<u8>(file[at + 1]), static_cast<u8>(file[at]));
}

}  // namespace

TEST_CASE("the driver finds the setup's own window and frame, reads the title and closes it") {
    DecoyMessageBox decoy;
    SetupDriver driver(FixtureSetup(StartupProject));
    REQUIRE(driver.Started());
    REQUIRE(driver.WaitForMainWindow());

    HWND main = driver.MainWindow();
    REQUIRE(main != nullptr);
    CHECK(ClassOf(main) == "KelvoClass");
    CHECK(ProcessOf(main) == driver.ProcessId());
    CHECK(IsWindowVisible(main));
    // The title is the setup title, followed by the page title in windowed mode.
    CHECK(driver.MainTitle().rfind(SetupTitle, 0) == 0);

    HWND frame = driver.Frame();
    REQUIRE(frame != nullptr);
    CHECK(ClassOf(frame) == "#32770");
    CHECK(ProcessOf(frame) == driver.ProcessId());
    CHECK(GetParent(frame) == main);  // the parent of a child, the owner of a popup
    // A dialog of another process is never the setup's message box.
    CHECK(driver.OpenMessageBox() == nullptr);
    CHECK(driver.WaitForMessageBox(300) == nullptr);

    driver.CloseMainWindow();
    CHECK(driver.WaitForExit() == 0);
    CHECK_FALSE(driver.Running());
    CHECK(driver.MainWindow() == nullptr);
    CHECK(driver.Frame() == nullptr);
}

TEST_CASE("the driver reads and answers a message box of a setup that cannot load") {
    DecoyMessageBox decoy;
    ScratchFolder scratch("kelvo-driver-test");
    std::string setup = ReadWholeFile(FixtureSetup(StartupProject));
    REQUIRE(setup.size() > 10);
    setup.resize(setup.size() - 10);  // file contents cut off
    SetupDriver driver(scratch.Make("cut-off setup.exe", setup));
    REQUIRE(driver.Started());

    HWND box = driver.WaitForMessageBox();
    REQUIRE(box != nullptr);
    CHECK(box != decoy.window);
    CHECK(SetupDriver::WindowText(box) == SetupTitle);
    CHECK(SetupDriver::MessageBoxText(box) == "The setup file is incomplete.");
    CHECK(SetupDriver::HasButton(box, IDOK));
    // A person cannot press a button the box does not have.
    CHECK_FALSE(SetupDriver::Answer(box, IDYES));
    CHECK(IsWindow(box));
    CHECK(SetupDriver::Answer(box, IDOK));
    CHECK(driver.WaitForExit() == CannotRun);
}

TEST_CASE("a screenshot is a 24-bit picture of the whole desktop as it shows") {
    SetupDriver driver(FixtureSetup(StartupProject));
    REQUIRE(driver.Started());
    REQUIRE(driver.WaitForMainWindow());
    ColourPatch patch;
    ScratchFolder scratch("kelvo-driver-test");
    std::string path = scratch.Path("desktop.bmp");
    REQUIRE(SetupDriver::Screenshot(path));
    driver.CloseMainWindow();
    CHECK(driver.WaitForExit() == 0);

    std::string file = ReadWholeFile(path);
    BmpHeader header = ReadBmpHeader(file);
    RECT desktop;
    GetWindowRect(GetDesktopWindow(), &desktop);
    CHECK(header.magic == 0x4D42);  // "BM"
    CHECK(header.fileSize == file.size());
    CHECK(header.infoSize == sizeof(BITMAPINFOHEADER));
    CHECK(header.width == desktop.right - desktop.left);
    CHECK(header.height == desktop.bottom - desktop.top);  // positive: bottom-up
    CHECK(header.planes == 1);
    CHECK(header.bitsPerPixel == 24);
    CHECK(header.compression == BI_RGB);
    CHECK(header.pixelsAt + ((header.width * 3 + 3) & ~3) * header.height == file.size());

    // The patch is where it was put, the right way up, in its own colours.
    const int middle = ColourPatch::Left + ColourPatch::Width / 2;
    CHECK(PixelAt(file, header, middle, ColourPatch::Top + 4) == ColourPatch::Upper);
    CHECK(PixelAt(file, header, middle, ColourPatch::Top + ColourPatch::Height - 4) == ColourPatch::Lower);
    CHECK(PixelAt(file, header, ColourPatch::Left + 2, ColourPatch::Top + 2) == ColourPatch::Upper);
    CHECK(PixelAt(file, header, ColourPatch::Left + ColourPatch::Width - 3, ColourPatch::Top + ColourPatch::Height - 3) ==
          ColourPatch::Lower);
}
