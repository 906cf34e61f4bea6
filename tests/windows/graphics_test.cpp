// The wizard's graphics under Wine: frames, pictures and the background are
// drawn into memory bitmaps and read back pixel by pixel; every picture lies
// at the end of a readable page followed by an unreadable one, so a read
// beyond its record faults. Also the control colours and font, the main
// window's messages and the restart dialog, driven from a second thread.
#include <windows.h>

#include <doctest/doctest.h>

#include <string>
#include <utility>
#include <vector>

#include "archive/script.h"
#include "archive/texts.h"
#include "common/helpers.h"
#include "engine/setup_state.h"
#include "tests/support/dialogs.h"
#include "tests/support/guarded_bytes.h"
#include "wizard/background_window.h"
#include "wizard/dialog_helpers.h"
#include "wizard/frame_dialog.h"
#include "wizard/main_window.h"
#include "wizard/page_loop.h"
#include "wizard/pictures.h"

namespace {

const COLORREF Marker = RGB(1, 2, 3);  // what the drawing must leave alone

// Offsets in a picture record.
const u32 WidthAt = 18, HeightAt = 22, BitsAt = 28, CompressionAt = 30, ColoursAt = 46, InfoSizeAt = 14;

void Put(std::vector<u8>& bytes, u32 at, u32 value, u32 size = 4) {
    for (u32 i = 0; i < size; i++) bytes[at + i] = static_cast<u8>(value >> (8 * i));
}

// A 32-bit top-down DIB section selected into a memory DC, filled with Marker.
class Canvas {
public:
    Canvas(int width, int height) : width(width), height(height) {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        dc = CreateCompatibleDC(nullptr);
        bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
        REQUIRE(bitmap != nullptr);
        previous = SelectObject(dc, bitmap);
        for (int i = 0; i < width * height; i++) bits[i] = 0x010203;  // Marker as 0xRRGGBB
    }
    ~Canvas() {
        SelectObject(dc, previous);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    COLORREF At(int x, int y) const {
        GdiFlush();
        u32 pixel = bits[y * width + x];
        return RGB(pixel >> 16 & 0xFF, pixel >> 8 & 0xFF, pixel & 0xFF);
    }
    bool Untouched() const {
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++)
                if (At(x, y) != Marker) return false;
        return true;
    }
    std::vector<u32> Pixels() const {
        GdiFlush();
        return std::vector<u32>(bits, bits + width * height);
    }

    HDC dc;
    const int width, height;

private:
    HBITMAP bitmap;
    HGDIOBJ previous;
    u32* bits = nullptr;
};

std::string Describe(COLORREF colour) {
    return "(" + std::to_string(GetRValue(colour)) + "," + std::to_string(GetGValue(colour)) + "," +
           std::to_string(GetBValue(colour)) + ")";
}

// A test picture: colour-table colours and direct colours are easy to tell apart.
struct Shape {
    i32 width, height;
    u16 bits;
    u32 colours;  // the header's colour count
};

COLORREF TableColour(u32 i) { return RGB((40 + i * 12) & 0xFF, (250 - i * 9) & 0xFF, (i * 37) & 0xFF); }

u32 TableEntries(const Shape& shape) {
    return shape.colours != 0 ? shape.colours : shape.bits <= 8 ? 1u << shape.bits : 0;
}

// The colour the picture shows at (x, y), counted from its top-left corner.
COLORREF PictureColour(const Shape& shape, int x, int y) {
    if (shape.bits > 8) return RGB(x * 23 & 0xFF, y * 41 & 0xFF, 200 - x - y);
    u32 usable = TableEntries(shape) < (1u << shape.bits) ? TableEntries(shape) : 1u << shape.bits;
    return TableColour((x + 3 * y) % usable);
}

// The complete .bmp file image of `shape`: headers, colour table, then the
// rows bottom-up, each padded to four bytes.
std::vector<u8> Picture(const Shape& shape) {
    u32 tableSize = 4 * TableEntries(shape);
    u32 rowBytes = (shape.width * shape.bits + 31) / 32 * 4;
    std::vector<u8> bytes(54 + tableSize + rowBytes * shape.height, 0);
    bytes[0] = 'B';
    bytes[1] = 'M';
    Put(bytes, 2, static_cast<u32>(bytes.size()));
    Put(bytes, 10, 54 + tableSize);
    Put(bytes, InfoSizeAt, 40);
    Put(bytes, WidthAt, shape.width);
    Put(bytes, HeightAt, shape.height);
    Put(bytes, 26, 1, 2);
    Put(bytes, BitsAt, shape.bits, 2);
    Put(bytes, ColoursAt, shape.colours);
    for (u32 i = 0; i < tableSize / 4; i++) {
        COLORREF colour = TableColour(i);
        bytes[54 + 4 * i] = GetBValue(colour);
        bytes[54 + 4 * i + 1] = GetGValue(colour);
        bytes[54 + 4 * i + 2] = GetRValue(colour);
    }
    for (int y = 0; y < shape.height; y++) {
        u8* row = bytes.data() + 54 + tableSize + (shape.height - 1 - y) * rowBytes;
        for (int x = 0; x < shape.width; x++) {
            COLORREF colour = PictureColour(shape, x, y);
            if (shape.bits > 8) {
                u8* pixel = row + x * shape.bits / 8;
                pixel[0] = GetBValue(colour);
                pixel[1] = GetGValue(colour);
                pixel[2] = GetRValue(colour);
            } else {
                u32 usable = TableEntries(shape) < (1u << shape.bits) ? TableEntries(shape) : 1u << shape.bits;
                u32 index = (x + 3 * y) % usable;
                u32 bit = x * shape.bits;
                row[bit / 8] |= static_cast<u8>(index << (8 - shape.bits - bit % 8));
            }
        }
    }
    return bytes;
}

// The first pixel of `canvas` inside `area` that differs from the picture
// placed with its top-left corner at `origin`; empty when there is none.
std::string PictureMismatch(const Canvas& canvas, const Shape& shape, POINT origin, RECT area) {
    for (int y = area.top; y < area.bottom; y++)
        for (int x = area.left; x < area.right; x++) {
            COLORREF expected = PictureColour(shape, x - origin.x, y - origin.y);
            if (canvas.At(x, y) != expected)
                return "at " + std::to_string(x) + "," + std::to_string(y) + ": " + Describe(canvas.At(x, y)) +
                       " instead of " + Describe(expected);
        }
    return "";
}

// A hidden pop-up window at (100, 100) with one child control `id` at
// `area`, in the window's client coordinates.
class ControlHost {
public:
    ControlHost(int id, RECT area) {
        window = CreateWindowExA(0, "STATIC", "", WS_POPUP, 100, 100, 300, 200, nullptr, nullptr, nullptr, nullptr);
        REQUIRE(window != nullptr);
        REQUIRE(CreateWindowExA(0, "STATIC", "", WS_CHILD, area.left, area.top, area.right - area.left,
                                area.bottom - area.top, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                nullptr, nullptr) != nullptr);
    }
    ~ControlHost() { DestroyWindow(window); }
    HWND window;
};

// The frame of DrawSunkenFrame(2, 1, 12, 7): S shadow, L highlight, f the
// inside (button face when filled), . untouched.
const char* const SunkenFrameArt[] = {
    "..............",  //
    "..SSSSSSSSSL..",  //
    "..SffffffffL..",  //
    "..SffffffffL..",  //
    "..SffffffffL..",  //
    "..SffffffffL..",  //
    "..LLLLLLLLLL..",  //
    "..............",  //
};
const int ArtWidth = 14, ArtHeight = 8;

std::string ArtMismatch(const Canvas& canvas, bool filled) {
    COLORREF face = GetSysColor(COLOR_BTNFACE);
    for (int y = 0; y < ArtHeight; y++)
        for (int x = 0; x < ArtWidth; x++) {
            char c = SunkenFrameArt[y][x];
            COLORREF expected = c == 'S'   ? GetSysColor(COLOR_BTNSHADOW)
                                : c == 'L' ? GetSysColor(COLOR_BTNHIGHLIGHT)
                                : c == 'f' && filled ? face
                                                     : Marker;
            if (canvas.At(x, y) != expected)
                return std::string("at ") + std::to_string(x) + "," + std::to_string(y) + " ('" + c + "'): " +
                       Describe(canvas.At(x, y));
        }
    return "";
}

// The script's background parts are the test's own; they are put back empty.
struct BackgroundScope {
    BackgroundScope() {
        screenWidth = GetSystemMetrics(SM_CXSCREEN);
        screenHeight = GetSystemMetrics(SM_CYSCREEN);
    }
    ~BackgroundScope() {
        setupScript.backgroundPicture = setupScript.backgroundTitle = setupScript.backgroundStyle = LoadedBody{};
        setupScript.setupFlags = 0;
    }
};

void DrawWholeBackground(const Canvas& canvas, int clientHeight) {
    RECT client = {0, 0, canvas.width, clientHeight};
    DrawBackground(canvas.dc, client, client);
}

}  // namespace

TEST_CASE("DrawSunkenFrame: shadow on the top and left, highlight on the bottom and right") {
    REQUIRE(GetSysColor(COLOR_BTNSHADOW) != GetSysColor(COLOR_BTNHIGHLIGHT));
    REQUIRE(GetSysColor(COLOR_BTNFACE) != GetSysColor(COLOR_BTNHIGHLIGHT));
    for (bool fill : {false, true}) {
        CAPTURE(fill);
        Canvas canvas(ArtWidth, ArtHeight);
        DrawSunkenFrame(canvas.dc, 2, 1, 12, 7, fill);
        CHECK(ArtMismatch(canvas, fill) == "");
    }
}

TEST_CASE("DrawControlFrame frames a control in its window's client coordinates, if it exists") {
    ControlHost host(1012, {2, 1, 12, 7});
    Canvas canvas(ArtWidth, ArtHeight);
    DrawControlFrame(host.window, canvas.dc, 1013, true);
    CHECK(canvas.Untouched());
    DrawControlFrame(host.window, canvas.dc, 1012, true);
    CHECK(ArtMismatch(canvas, true) == "");
}

TEST_CASE("DrawPictureInControl centres a picture and its frame carries the outermost pixels") {
    // Colour tables: the header's count when set, else a full table up to 8 bits.
    const Shape shapes[] = {{9, 5, 24, 0}, {9, 5, 24, 16}, {9, 5, 32, 0}, {9, 5, 8, 0},
                            {9, 5, 8, 16}, {9, 5, 4, 0},   {9, 5, 1, 0}};
    const RECT control = {20, 30, 60, 54};
    const POINT origin = {35, 39};  // (40 - 9) / 2 + 20, (24 - 5) / 2 + 30
    for (const Shape& shape : shapes) {
        CAPTURE(shape.bits);
        CAPTURE(shape.colours);
        GuardedBytes picture(Picture(shape));
        ControlHost host(1011, control);
        Canvas canvas(80, 70);
        DrawPictureInControl(host.window, canvas.dc, 1011, picture.Body());
        CHECK(PictureMismatch(canvas, shape, origin, {36, 40, 43, 43}) == "");
        CHECK(canvas.At(35, 39) == GetSysColor(COLOR_BTNSHADOW));
        CHECK(canvas.At(43, 43) == GetSysColor(COLOR_BTNHIGHLIGHT));
        CHECK(canvas.At(34, 41) == Marker);
        CHECK(canvas.At(44, 41) == Marker);
        CHECK(canvas.At(38, 38) == Marker);
        CHECK(canvas.At(38, 44) == Marker);
    }
}

TEST_CASE("a picture larger than its control shows its middle part, cut at the control's edges") {
    const Shape shape = {60, 40, 24, 0};
    GuardedBytes picture(Picture(shape));
    ControlHost host(1011, {20, 30, 60, 54});
    Canvas canvas(80, 70);
    DrawPictureInControl(host.window, canvas.dc, 1011, picture.Body());
    // Centred at (40 - 60) / 2 + 20, (24 - 40) / 2 + 30; the frame falls outside the clip.
    CHECK(PictureMismatch(canvas, shape, {10, 22}, {20, 30, 60, 54}) == "");
    for (POINT outside : {POINT{19, 40}, POINT{60, 40}, POINT{30, 29}, POINT{30, 54}, POINT{10, 22}})
        CHECK(canvas.At(outside.x, outside.y) == Marker);
}

TEST_CASE("a control without a picture only gets the clip; a missing control nothing") {
    ControlHost host(1011, {20, 30, 60, 54});
    Canvas canvas(80, 70);
    DrawPictureInControl(host.window, canvas.dc, 1011, LoadedBody{});
    DrawPictureInControl(host.window, canvas.dc, 1010, LoadedBody{});
    CHECK(canvas.Untouched());
    // The clip stays for the rest of the paint.
    FillSolidRect(canvas.dc, 0, 0, 80, 70, RGB(9, 9, 9));
    CHECK(canvas.At(19, 40) == Marker);
    CHECK(canvas.At(20, 30) == RGB(9, 9, 9));
}

TEST_CASE("damaged pictures are neither drawn nor read beyond their record") {
    const Shape good = {9, 5, 8, 0};
    const u32 goodSize = static_cast<u32>(Picture(good).size());
    struct Damage {
        const char* what;
        u32 keep;  // bytes of the record left, 0: all
        u32 at, value, size;  // a header field overwritten, at 0: none
    };
    const Damage damages[] = {
        {"cut inside the information header", 40, 0, 0, 0},
        {"colour table cut short", 54 + 512, 0, 0, 0},
        {"no pixel rows", 54 + 1024, 0, 0, 0},
        {"pixel rows one byte short", goodSize - 1, 0, 0, 0},
        {"width 0", 0, WidthAt, 0, 4},
        {"height 0", 0, HeightAt, 0, 4},
        {"negative width", 0, WidthAt, static_cast<u32>(-9), 4},
        {"top-down rows", 0, HeightAt, static_cast<u32>(-5), 4},
        {"huge width", 0, WidthAt, 0x7FFFFFFF, 4},
        {"huge height", 0, HeightAt, 0x40000000, 4},
        {"width beyond the largest side", 0, WidthAt, LargestPictureSide + 1, 4},
        {"colour count wrapping around", 0, ColoursAt, 0x40000001, 4},
        {"colour count beyond the record", 0, ColoursAt, 300, 4},
        {"7 bits per pixel", 0, BitsAt, 7, 2},
        {"run-length compressed", 0, CompressionAt, BI_RLE8, 4},
        {"larger information header", 0, InfoSizeAt, 124, 4},
    };
    BackgroundScope scope;
    for (const Damage& damage : damages) {
        CAPTURE(damage.what);
        std::vector<u8> bytes = Picture(good);
        if (damage.at != 0) Put(bytes, damage.at, damage.value, damage.size);
        if (damage.keep != 0) bytes.resize(damage.keep);
        GuardedBytes picture(bytes);
        PictureParts parts;
        CHECK_FALSE(LocatePicture(picture.Body(), &parts));

        ControlHost host(1011, {20, 30, 60, 54});
        Canvas canvas(80, 70);
        DrawPictureInControl(host.window, canvas.dc, 1011, picture.Body());
        CHECK(CreatePicturePalette(canvas.dc, picture.Body()) == nullptr);
        // Not tiled, and no gradient in its place either.
        setupScript.backgroundPicture = picture.Body();
        DrawWholeBackground(canvas, canvas.height);
        CHECK(canvas.Untouched());
    }
}

TEST_CASE("CreatePicturePalette: 256 entries for 8-bit pictures only, black beyond the picture's table") {
    Canvas canvas(1, 1);
    for (u32 colours : {16u, 0u}) {
        CAPTURE(colours);
        GuardedBytes picture(Picture({9, 5, 8, colours}));
        HPALETTE palette = CreatePicturePalette(canvas.dc, picture.Body());
        REQUIRE(palette != nullptr);
        PALETTEENTRY entries[256] = {};
        CHECK(GetPaletteEntries(palette, 0, 256, entries) == 256);
        u32 known = colours != 0 ? colours : 256;
        for (u32 i = 0; i < 256; i++) {
            CAPTURE(i);
            COLORREF expected = i < known ? TableColour(i) : RGB(0, 0, 0);
            CHECK(RGB(entries[i].peRed, entries[i].peGreen, entries[i].peBlue) == expected);
        }
        DeleteObject(palette);
    }
    for (Shape shape : {Shape{9, 5, 24, 0}, Shape{9, 5, 4, 0}, Shape{9, 5, 1, 0}, Shape{9, 5, 24, 256}}) {
        CAPTURE(shape.bits);
        GuardedBytes picture(Picture(shape));
        CHECK(CreatePicturePalette(canvas.dc, picture.Body()) == nullptr);
    }
}

TEST_CASE("the gradient's blue falls quadratically from 255 at the top to 0 at the bottom edge") {
    for (int height : {1, 8, 17, 600, 768, 1080, 4320, 20000}) {
        CAPTURE(height);
        CHECK(GradientBlue(0, height) == 255);
        CHECK(GradientBlue(height, height) == 0);
        if (height > 1) CHECK(GradientBlue(height / 2, height) >= 192);
        // Exact for tall screens too, where y * y * 255 needs more than 32 bits.
        int wrong = 0;
        for (int y = 0; y <= height; y++) {
            long long exact = 255 - static_cast<long long>(y) * y * 255 / (static_cast<long long>(height) * height);
            if (GradientBlue(y, height) != exact) wrong++;
        }
        CHECK(wrong == 0);
    }
}

TEST_CASE("the dithered gradient: pure blue on top, bright down to the middle, nearly black at the bottom") {
    BackgroundScope scope;
    const int height = 768;
    Canvas canvas(16, height);
    REQUIRE(GetDeviceCaps(canvas.dc, PLANES) * GetDeviceCaps(canvas.dc, BITSPIXEL) > 8);
    DrawWholeBackground(canvas, height);
    int wrong = 0;
    for (int y = 0; y < height; y++)
        for (int x = 0; x < canvas.width; x++) {
            COLORREF colour = canvas.At(x, y);
            bool fits = GetRValue(colour) == 0 && GetGValue(colour) == 0 && (y > 0 || GetBValue(colour) == 255) &&
                        (y >= height / 2 || GetBValue(colour) >= 192) && (y < height - 1 || GetBValue(colour) <= 6);
            if (!fits) wrong++;
        }
    CHECK(wrong == 0);
}

TEST_CASE("the dithered gradient's last band takes the bottom edge's black beyond the client height") {
    BackgroundScope scope;
    // Client height 17: the band of rows 16 to 23 has one row inside (blue 30);
    // the other seven of its colours are the bottom edge's. The dither puts
    // the row-16 colour once into each column, at these rows:
    const int rowOfFirstColour[8] = {23, 18, 20, 19, 17, 16, 18, 21};
    Canvas canvas(16, 32);
    DrawWholeBackground(canvas, 17);
    int wrong = 0;
    for (int y = 16; y < 32; y++)
        for (int x = 0; x < canvas.width; x++) {
            COLORREF expected = y >= 24                        ? Marker
                                : y == rowOfFirstColour[x % 8] ? RGB(0, 0, GradientBlue(16, 17))
                                                               : RGB(0, 0, 0);
            if (canvas.At(x, y) != expected) wrong++;
        }
    CHECK(wrong == 0);
    CHECK(GradientBlue(16, 17) == 30);
    CHECK(GetBValue(canvas.At(0, 15)) > 30);
}

TEST_CASE("a background picture tiles the client area from the top-left corner, without a gradient") {
    BackgroundScope scope;
    for (Shape shape : {Shape{5, 3, 24, 0}, Shape{5, 3, 8, 16}}) {
        CAPTURE(shape.bits);
        GuardedBytes picture(Picture(shape));
        setupScript.backgroundPicture = picture.Body();
        Canvas canvas(12, 7);
        DrawWholeBackground(canvas, canvas.height);
        int wrong = 0;
        for (int y = 0; y < canvas.height; y++)
            for (int x = 0; x < canvas.width; x++)
                if (canvas.At(x, y) != PictureColour(shape, x % 5, y % 3)) wrong++;
        CHECK(wrong == 0);
    }
}

namespace {

const COLORREF ShadowColour = RGB(255, 0, 0), TextColour = RGB(0, 255, 0);

std::vector<u8> TitleStyle(const char* face) {
    BackgroundStyleBody style = {};
    style.shadowColour = ShadowColour;
    style.textColour = TextColour;
    LOGFONTA font = {};
    font.lfHeight = -24;
    font.lfWeight = FW_BOLD;
    font.lfQuality = NONANTIALIASED_QUALITY;
    memcpy(font.lfFaceName, face, strlen(face) < LF_FACESIZE ? strlen(face) + 1 : LF_FACESIZE);
    memcpy(style.font, &font, sizeof font);
    const u8* bytes = reinterpret_cast<const u8*>(&style);
    return std::vector<u8>(bytes, bytes + sizeof style);
}

std::vector<u8> Text(const char* text) { return std::vector<u8>(text, text + strlen(text) + 1); }

struct Box {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1, count = 0;
};

Box PixelsOf(const Canvas& canvas, COLORREF colour) {
    Box box;
    for (int y = 0; y < canvas.height; y++)
        for (int x = 0; x < canvas.width; x++)
            if (canvas.At(x, y) == colour) {
                box.left = x < box.left ? x : box.left;
                box.top = y < box.top ? y : box.top;
                box.right = x > box.right ? x : box.right;
                box.bottom = y > box.bottom ? y : box.bottom;
                box.count++;
            }
    return box;
}

}  // namespace

TEST_CASE("the title is drawn at (10, 10) in its colour over a shadow 4 pixels right and below") {
    BackgroundScope scope;
    const char* faces[] = {"Tahoma", "A face name that never ends...."};  // the second fills all 32 bytes
    for (const char* face : faces) {
        CAPTURE(face);
        GuardedBytes title(Text("Kelvo Setup"));
        GuardedBytes style(TitleStyle(face));
        setupScript.backgroundTitle = title.Body();
        setupScript.backgroundStyle = style.Body();
        Canvas canvas(260, 60);
        DrawWholeBackground(canvas, canvas.height);
        Box text = PixelsOf(canvas, TextColour), shadow = PixelsOf(canvas, ShadowColour);
        REQUIRE(text.count > 0);
        REQUIRE(shadow.count > 0);
        CHECK(text.left >= 10);
        CHECK(text.top >= 10);
        // The shadow's right and bottom edges are never covered by the text.
        CHECK(shadow.right == text.right + 4);
        CHECK(shadow.bottom == text.bottom + 4);
    }
}

TEST_CASE("without a title, with an empty one or without a style nothing is drawn over the background") {
    BackgroundScope scope;
    Canvas plain(120, 40);
    DrawWholeBackground(plain, plain.height);
    GuardedBytes title(Text("Kelvo Setup")), empty(Text("")), style(TitleStyle("Tahoma"));
    const std::pair<const char*, std::pair<LoadedBody, LoadedBody>> cases[] = {
        {"title without a style", {title.Body(), LoadedBody{}}},
        {"style without a title", {LoadedBody{}, style.Body()}},
        {"empty title", {empty.Body(), style.Body()}},
    };
    for (const auto& titleCase : cases) {
        CAPTURE(titleCase.first);
        setupScript.backgroundTitle = titleCase.second.first;
        setupScript.backgroundStyle = titleCase.second.second;
        Canvas canvas(120, 40);
        DrawWholeBackground(canvas, canvas.height);
        CHECK(canvas.Pixels() == plain.Pixels());
    }
}

namespace {

const char TestMainClass[] = "KelvoGraphicsTestMain";

// A window of a class with the main window's procedure, registered as the
// setup program registers its own.
HWND CreateTestMainWindow(DWORD exStyle, DWORD style, int width, int height) {
    static bool registered = false;
    if (!registered) {
        WNDCLASSA windowClass = {};
        windowClass.style = CS_HREDRAW | CS_VREDRAW;
        windowClass.lpfnWndProc = MainWindowProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
        windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
        windowClass.lpszClassName = TestMainClass;
        registered = RegisterClassA(&windowClass) != 0;
        REQUIRE(registered);
    }
    HWND window = CreateWindowExA(exStyle, TestMainClass, "Kelvo", style, 0, 0, width, height, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    REQUIRE(window != nullptr);
    return window;
}

// Destroys a window of MainWindowProc and returns whether it posted the quit
// message with exit code 0 (removed, so later message loops are not ended).
bool DestroyAndTakeQuit(HWND window) {
    DestroyWindow(window);
    MSG message;
    return PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) && message.wParam == 0;
}

}  // namespace

TEST_CASE("the main window: close cancels the page, restore shows the frame, activation reaches the frame") {
    HWND window = CreateTestMainWindow(0, WS_OVERLAPPEDWINDOW, 200, 150);
    frameWindow = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
    REQUIRE(frameWindow != nullptr);

    pageResult = PageRunning;
    CHECK(SendMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0) == 0);
    CHECK(pageResult == PageCancelled);
    CHECK(IsWindow(window));

    CHECK_FALSE(IsWindowVisible(frameWindow));
    SendMessageA(window, WM_SYSCOMMAND, SC_RESTORE, 0);
    CHECK(IsWindowVisible(frameWindow));

    MSG message;
    while (PeekMessageA(&message, frameWindow, WM_NCACTIVATE, WM_NCACTIVATE, PM_REMOVE)) {
    }
    for (WPARAM active : {TRUE, FALSE}) {
        CAPTURE(active);
        SendMessageA(window, WM_ACTIVATEAPP, active, 0);
        REQUIRE(PeekMessageA(&message, frameWindow, WM_NCACTIVATE, WM_NCACTIVATE, PM_REMOVE));
        CHECK(message.wParam == active);
    }

    CHECK(DestroyAndTakeQuit(window));
    DestroyWindow(frameWindow);
    frameWindow = nullptr;
    pageResult = PageRunning;
}

TEST_CASE("the main window paints the tiled background in full-screen mode") {
    BackgroundScope scope;
    const Shape shape = {5, 3, 24, 0};
    GuardedBytes picture(Picture(shape));
    setupScript.backgroundPicture = picture.Body();
    setupScript.setupFlags = FullScreenBackground;
    // Topmost, so other windows on the shared desktop do not cover it.
    HWND window = CreateTestMainWindow(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, WS_POPUP | WS_VISIBLE, 40, 30);
    UpdateWindow(window);
    HDC dc = GetDC(window);
    int wrong = 0;
    for (int y = 0; y < 30; y++)
        for (int x = 0; x < 40; x++)
            if (GetPixel(dc, x, y) != PictureColour(shape, x % 5, y % 3)) wrong++;
    ReleaseDC(window, dc);
    CHECK(wrong == 0);
    CHECK(DestroyAndTakeQuit(window));
}

TEST_CASE("ColourControl gives dialogs, static texts and buttons the button face and leaves edit boxes alone") {
    CreateButtonFaceBrush();
    REQUIRE(buttonFaceBrush != nullptr);
    const std::pair<UINT, bool> cases[] = {
        {WM_CTLCOLORMSGBOX, true},   {WM_CTLCOLORBTN, true},        {WM_CTLCOLORDLG, true},
        {WM_CTLCOLORSTATIC, true},   {WM_CTLCOLOREDIT, false},      {WM_CTLCOLORLISTBOX, false},
        {WM_CTLCOLORSCROLLBAR, false}, {WM_ERASEBKGND, false},
    };
    HDC dc = CreateCompatibleDC(nullptr);
    for (const auto& message : cases) {
        CAPTURE(message.first);
        SetBkColor(dc, Marker);
        INT_PTR answer = ColourControl(nullptr, message.first, reinterpret_cast<WPARAM>(dc), 0);
        CHECK(answer == (message.second ? reinterpret_cast<INT_PTR>(buttonFaceBrush) : 0));
        CHECK(GetBkColor(dc) == (message.second ? GetSysColor(COLOR_BTNFACE) : Marker));
    }
    DeleteDC(dc);
    ReleaseButtonFaceBrush();
}

namespace {

// Window class atoms of dialog template items.
const WORD ButtonAtom = 0x0080, StaticAtom = 0x0082;

// An extended dialog template built in memory: the dialog, then its items,
// each aligned to four bytes.
class DialogTemplate {
public:
    DialogTemplate(DWORD style, const char* face, WORD points, WORD weight) {
        Put32(1 | 0xFFFFu << 16);  // version 1, extended
        Put32(0);                  // help id
        Put32(0);                  // extended style
        Put32(style | (face != nullptr ? DS_SETFONT : 0));
        Put16(0);  // items, counted by Add
        for (short size : {0, 0, 160, 60}) Put16(size);
        Put16(0);  // no menu
        Put16(0);  // the dialog class
        PutText("");
        if (face != nullptr) {
            Put16(points);
            Put16(weight);
            Put16(0);  // not italic, ANSI characters
            PutText(face);
        }
    }
    void Add(WORD atom, DWORD style, DWORD id, short x, short y, const char* text) {
        if (words.size() % 2 != 0) Put16(0);
        Put32(0);
        Put32(0);
        Put32(style | WS_CHILD);
        for (short value : {x, y, short(60), short(14)}) Put16(value);
        Put32(id);
        Put16(0xFFFF);
        Put16(atom);
        PutText(text);
        Put16(0);  // no creation data
        words[ItemCountAt]++;
    }
    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words.data()); }

private:
    static const size_t ItemCountAt = 8;
    std::vector<WORD> words;
    void Put16(WORD value) { words.push_back(value); }
    void Put32(DWORD value) {
        Put16(LOWORD(value));
        Put16(HIWORD(value));
    }
    void PutText(const char* text) {
        do Put16(static_cast<u8>(*text));
        while (*text++ != '\0');
    }
};

DialogTemplate TwoControls(const char* face, WORD weight) {
    DialogTemplate dialog(WS_POPUP, face, 10, weight);
    dialog.Add(StaticAtom, SS_LEFT | WS_VISIBLE, 1000, 5, 5, "Text");
    dialog.Add(ButtonAtom, BS_PUSHBUTTON | WS_VISIBLE, IDOK, 5, 25, "OK");
    return dialog;
}

// Handles command 5 as a page does; everything else is left alone.
INT_PTR CALLBACK PageLikeProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND && LOWORD(wParam) == 5) return AnswerHandled(dialog);
    return FALSE;
}

HWND CreateTestDialog(const DialogTemplate& dialog) {
    HWND window = CreateDialogIndirectParamA(GetModuleHandleA(nullptr), dialog.Get(), nullptr, PageLikeProc, 0);
    REQUIRE(window != nullptr);
    return window;
}

HFONT ChildFont(HWND dialog, int id) {
    return reinterpret_cast<HFONT>(SendDlgItemMessageA(dialog, id, WM_GETFONT, 0, 0));
}

}  // namespace

TEST_CASE("ApplyControlFont: the first dialog with a font fixes it at normal weight for all later dialogs") {
    ReleaseControlFont();
    // Without a font there is nothing to apply, and no control changes.
    HWND plain = CreateTestDialog(TwoControls(nullptr, 0));
    HFONT plainText = ChildFont(plain, 1000), plainButton = ChildFont(plain, IDOK);
    ApplyControlFont(plain);
    CHECK(ChildFont(plain, 1000) == plainText);
    CHECK(ChildFont(plain, IDOK) == plainButton);

    HWND bold = CreateTestDialog(TwoControls("Tahoma", FW_BOLD));
    HFONT dialogFont = reinterpret_cast<HFONT>(SendMessageA(bold, WM_GETFONT, 0, 0));
    ApplyControlFont(bold);
    HFONT controlFont = ChildFont(bold, 1000);
    REQUIRE(controlFont != nullptr);
    CHECK(controlFont != dialogFont);
    CHECK(ChildFont(bold, IDOK) == controlFont);
    CHECK(reinterpret_cast<HFONT>(SendMessageA(bold, WM_GETFONT, 0, 0)) == dialogFont);  // the dialog keeps its own
    LOGFONTA own = {}, control = {};
    REQUIRE(GetObjectA(dialogFont, sizeof own, &own) != 0);
    REQUIRE(GetObjectA(controlFont, sizeof control, &control) != 0);
    CHECK(own.lfWeight == FW_BOLD);
    CHECK(control.lfWeight == FW_NORMAL);
    CHECK(control.lfHeight == own.lfHeight);
    CHECK(std::string(control.lfFaceName) == own.lfFaceName);

    // Later dialogs get the same font, whatever their own.
    HWND other = CreateTestDialog(TwoControls("Courier New", FW_NORMAL));
    ApplyControlFont(other);
    ApplyControlFont(plain);
    CHECK(ChildFont(other, 1000) == controlFont);
    CHECK(ChildFont(plain, IDOK) == controlFont);

    for (HWND dialog : {plain, bold, other}) DestroyWindow(dialog);
    ReleaseControlFont();
}

TEST_CASE("AnswerHandled makes a dialog's answer to the command 1") {
    HWND dialog = CreateTestDialog(TwoControls(nullptr, 0));
    CHECK(SendMessageA(dialog, WM_COMMAND, 5, 0) == 1);
    CHECK(SendMessageA(dialog, WM_COMMAND, 6, 0) == 0);
    DestroyWindow(dialog);
}

namespace {

// An InstallSet record with the given string tables.
LoadedBody SetWithTables(const std::vector<std::pair<u32, std::vector<std::string>>>& tables) {
    std::vector<u8> body(InstallSetFixedSize, 0);
    for (const auto& table : tables) {
        Put(body, StringTableFields + 4 * table.first, static_cast<u32>(body.size()));
        body.push_back(static_cast<u8>(table.second.size()));
        body.push_back(0);
        for (const std::string& text : table.second)
            body.insert(body.end(), text.c_str(), text.c_str() + text.size() + 1);
    }
    LoadedBody kept = {nullptr, static_cast<u32>(body.size())};
    REQUIRE(AllocateBlock(kept.size, &kept.data));
    memcpy(kept.data, body.data(), body.size());
    return kept;
}

enum RestartAction { PressEscape, PressEnter, ClickRestart, ClickCancel };

// What the restart dialog showed while it was open.
struct RestartRun {
    RestartAction action;
    bool found = false;
    std::string caption, restartButton, cancelButton, text;
    RECT place = {}, client = {};
};

// Runs on its own thread while the dialog is modal: notes what it shows,
// then answers it as a user would.
DWORD WINAPI DriveRestartDialog(void* data) {
    RestartRun* run = static_cast<RestartRun*>(data);
    HWND dialog = WaitForOwnDialog(DialogWaitLimit);
    if (dialog == nullptr) return 1;
    run->found = true;
    char caption[256] = "";
    GetWindowTextA(dialog, caption, sizeof caption);
    run->caption = caption;
    run->restartButton = DialogItemText(dialog, IDOK);
    run->cancelButton = DialogItemText(dialog, IDCANCEL);
    run->text = DialogItemText(dialog, 1000);
    GetWindowRect(dialog, &run->place);
    GetClientRect(dialog, &run->client);
    switch (run->action) {
        case PressEscape: PostMessageA(dialog, WM_KEYDOWN, VK_ESCAPE, 0); break;
        case PressEnter: PostMessageA(dialog, WM_KEYDOWN, VK_RETURN, 0); break;
        case ClickRestart: PostMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0); break;
        case ClickCancel: PostMessageA(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0); break;
    }
    return 0;
}

}  // namespace

TEST_CASE("the restart dialog shows the set's texts, sits in the middle and ends with 1 to restart, else 2") {
    setupScript.sets[0].record = SetWithTables({
        {FinishTexts, {"", "", "", "", "", "", "", "Windows must be restarted."}},
        {MessageTexts, {"Kelvo Test Setup"}},
        {ButtonTexts, {"", "", "Cancel", "", "", "", "Restart"}},
    });
    setupScript.setCount = 1;
    SelectInstallSet(0);
    const int mainWidth = 640, mainHeight = 480;
    mainWindow = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, mainWidth, mainHeight, nullptr, nullptr, nullptr,
                                 nullptr);
    REQUIRE(mainWindow != nullptr);
    DialogTemplate restart(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, "Tahoma", 8, FW_NORMAL);
    restart.Add(StaticAtom, SS_LEFT | WS_VISIBLE, 1000, 5, 5, "");
    restart.Add(ButtonAtom, BS_DEFPUSHBUTTON | WS_TABSTOP | WS_VISIBLE, IDOK, 20, 40, "");
    restart.Add(ButtonAtom, BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE, IDCANCEL, 90, 40, "");

    const std::pair<RestartAction, INT_PTR> cases[] = {
        {PressEscape, IDCANCEL}, {PressEnter, IDOK}, {ClickRestart, IDOK}, {ClickCancel, IDCANCEL}};
    for (const auto& answer : cases) {
        CAPTURE(answer.first);
        RestartRun run;
        run.action = answer.first;
        HANDLE driver = CreateThread(nullptr, 0, DriveRestartDialog, &run, 0, nullptr);
        INT_PTR result =
            DialogBoxIndirectParamA(GetModuleHandleA(nullptr), restart.Get(), mainWindow, RestartDialogProc, 0);
        WaitForSingleObject(driver, INFINITE);
        CloseHandle(driver);
        REQUIRE(run.found);
        CHECK(result == answer.second);
        CHECK(run.caption == "Kelvo Test Setup");
        CHECK(run.restartButton == "Restart");
        CHECK(run.cancelButton == "Cancel");
        CHECK(run.text == "Windows must be restarted.");
        CHECK(run.place.left == (mainWidth - run.client.right) / 2);
        CHECK(run.place.top == (mainHeight - run.client.bottom) / 2);
    }

    DestroyWindow(mainWindow);
    mainWindow = nullptr;
    ReleaseControlFont();
    ReleaseSetupScript();
}

namespace {

// Where control `id` of `dialog` lies in the dialog's client coordinates.
RECT ControlArea(HWND dialog, int id) {
    RECT area;
    GetWindowRect(GetDlgItem(dialog, id), &area);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&area), 2);
    return area;
}

}  // namespace

TEST_CASE("the frame paints its separator as a sunken line and the side picture centred in its area") {
    const Shape shape = {30, 40, 24, 0};
    GuardedBytes picture(Picture(shape));
    setupScript.wizardPicture = picture.Body();
    mainWindow = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 800, 600, nullptr, nullptr, nullptr, nullptr);
    REQUIRE(mainWindow != nullptr);
    // Hidden marker controls, as in the frame's templates.
    DialogTemplate frame(WS_POPUP | WS_VISIBLE, "Tahoma", 8, FW_NORMAL);
    frame.Add(StaticAtom, SS_LEFT, 1011, 4, 4, "");
    frame.Add(StaticAtom, SS_LEFT, 1012, 4, 40, "");
    HWND window = CreateDialogIndirectParamA(GetModuleHandleA(nullptr), frame.Get(), nullptr, FrameDialogProc, 0);
    REQUIRE(window != nullptr);
    // Topmost, so other windows on the shared desktop do not cover it.
    SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);

    HDC dc = GetDC(window);
    RECT separator = ControlArea(window, 1012), side = ControlArea(window, 1011);
    CHECK(GetPixel(dc, separator.left, separator.top) == GetSysColor(COLOR_BTNSHADOW));
    CHECK(GetPixel(dc, separator.right - 1, separator.bottom - 1) == GetSysColor(COLOR_BTNHIGHLIGHT));
    CHECK(GetPixel(dc, separator.left + 1, separator.top + 1) == GetSysColor(COLOR_BTNFACE));
    POINT origin = {(side.right - side.left - shape.width) / 2 + side.left,
                    (side.bottom - side.top - shape.height) / 2 + side.top};
    int wrong = 0;
    for (int y = 1; y < shape.height - 1; y++)
        for (int x = 1; x < shape.width - 1; x++) {
            int sx = origin.x + x, sy = origin.y + y;
            bool inside = sx >= side.left && sx < side.right && sy >= side.top && sy < side.bottom;
            if (inside && GetPixel(dc, sx, sy) != PictureColour(shape, x, y)) wrong++;
        }
    ReleaseDC(window, dc);
    CHECK(wrong == 0);

    DestroyWindow(window);
    DestroyWindow(mainWindow);
    mainWindow = nullptr;
    setupScript.wizardPicture = LoadedBody{};
    ReleaseControlFont();
}
