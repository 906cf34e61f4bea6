#include "wizard/background_window.h"

#include "archive/script.h"
#include "common/helpers.h"
#include "common/window_texts.h"
#include "engine/setup_state.h"
#include "wizard/dialog_helpers.h"
#include "wizard/page_loop.h"
#include "wizard/pictures.h"

const int PatternSide = 8;
const u32 PatternPixels = PatternSide * PatternSide;
const u32 PatternBytes = sizeof(BITMAPINFOHEADER) + 3 * PatternPixels;  // 24-bit rows need no padding
// Which of a band's eight row colours each pixel of the 8 by 8 pattern takes,
// stored bottom-up as in the pattern bitmap.
const u8 DitherTable[PatternPixels] = {
    0, 3, 1, 4, 2, 5, 3, 6,  //
    7, 4, 6, 3, 5, 2, 4, 1,  //
    2, 5, 3, 6, 4, 7, 5, 0,  //
    1, 6, 0, 5, 7, 4, 6, 3,  //
    4, 7, 5, 0, 6, 1, 7, 2,  //
    3, 0, 2, 7, 1, 6, 0, 5,  //
    6, 1, 7, 2, 0, 3, 1, 4,  //
    5, 2, 4, 1, 3, 0, 2, 7,  //
};
// The title's top-left corner and how far its shadow falls right and below.
const int TitleInset = 10;
const int ShadowOffset = 4;

int GradientBlue(int y, int height) {
    // In floating point: y * y * 255 leaves 32 bits on screens over 2900 rows
    // high, and the truncated quotient is exact in a double.
    return 255 - static_cast<int>(static_cast<double>(y) * y * 255 / (static_cast<double>(height) * height));
}

// One pattern brush per band of eight rows instead of single pixels.
static void PaintDitheredGradient(HDC dc, const RECT& client) {
    int height = client.bottom;
    BITMAPINFOHEADER* pattern;
    if (!AllocateZeroedBlock(PatternBytes, &pattern)) return;
    pattern->biSize = sizeof(BITMAPINFOHEADER);
    pattern->biWidth = pattern->biHeight = PatternSide;
    pattern->biPlanes = 1;
    pattern->biBitCount = 24;
    pattern->biSizeImage = 3 * PatternPixels;
    u8* pixels = reinterpret_cast<u8*>(pattern + 1);
    for (int top = 0; top < height; top += PatternSide) {
        u8 blues[PatternSide];
        for (int k = 0; k < PatternSide; k++) blues[k] = GradientBlue(top + k < height ? top + k : height, height);
        // Red and green stay zero.
        for (u32 i = 0; i < PatternPixels; i++) pixels[3 * i] = blues[DitherTable[i]];
        HBRUSH brush = CreateDIBPatternBrushPt(pattern, DIB_RGB_COLORS);
        RECT band = {client.left, top, client.right, top + PatternSide};
        FillRect(dc, &band, brush);
        DeleteObject(brush);
    }
    ReleaseBlock(&pattern);
}

// On a palette display: one solid row at a time, rows inclusive of the
// bottom edge of the area to repaint.
static void PaintBandedGradient(HDC dc, const RECT& dirty, int height) {
    if (height <= 0) return;
    for (int y = dirty.top; y <= dirty.bottom; y++)
        FillSolidRect(dc, dirty.left, y, dirty.right - dirty.left, 1, RGB(0, 0, GradientBlue(y, height)));
}

// Rows of tiles from the top, each from the left edge; a damaged picture
// draws nothing rather than a gradient.
static void TilePicture(HDC dc, const RECT& client, const LoadedBody& picture) {
    PictureParts parts;
    if (!LocatePicture(picture, &parts)) return;
    HPALETTE previous;
    HPALETTE palette = SelectPicturePalette(dc, picture, &previous);
    for (int y = 0; y < client.bottom; y += parts.info->bmiHeader.biHeight)
        for (int x = 0; x < client.right; x += parts.info->bmiHeader.biWidth) DrawPicture(dc, x, y, parts);
    RestorePalette(dc, palette, previous);
}

static void DrawTitleAt(HDC dc, const char* title, int inset, COLORREF colour) {
    RECT area = {inset, inset, screenWidth, screenHeight};
    SetTextColor(dc, colour);
    DrawShownText(dc, title, &area, DT_NOPREFIX | DT_NOCLIP);
}

// The loader has checked that the title is terminated and the style complete.
static void DrawTitle(HDC dc) {
    const char* title = reinterpret_cast<const char*>(setupScript.backgroundTitle.data);
    const BackgroundStyleBody* style = reinterpret_cast<const BackgroundStyleBody*>(setupScript.backgroundStyle.data);
    if (title == nullptr || title[0] == '\0' || style == nullptr) return;
    // A copy, so a face name without its terminator is not read beyond the record.
    LOGFONTA description;
    memcpy(&description, style->font, sizeof description);
    description.lfFaceName[LF_FACESIZE - 1] = '\0';
    HFONT font = CreateFontIndirectA(&description);
    HGDIOBJ previous = font != nullptr ? SelectObject(dc, font) : nullptr;
    SetBkMode(dc, TRANSPARENT);
    DrawTitleAt(dc, title, TitleInset + ShadowOffset, style->shadowColour);
    DrawTitleAt(dc, title, TitleInset, style->textColour);
    if (font != nullptr) {
        SelectObject(dc, previous);
        DeleteObject(font);
    }
}

void DrawBackground(HDC dc, const RECT& client, const RECT& dirty) {
    if (setupScript.backgroundPicture.data != nullptr)
        TilePicture(dc, client, setupScript.backgroundPicture);
    else if (GetDeviceCaps(dc, PLANES) * GetDeviceCaps(dc, BITSPIXEL) > 8)
        PaintDitheredGradient(dc, client);
    else
        PaintBandedGradient(dc, dirty, client.bottom);
    DrawTitle(dc);
}

static void PaintBackground(HWND window) {
    RECT client;
    GetClientRect(window, &client);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (dc != nullptr) DrawBackground(dc, client, paint.rcPaint);
    EndPaint(window, &paint);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT:
            if ((setupScript.setupFlags & FullScreenBackground) == 0 || IsIconic(window)) break;
            PaintBackground(window);
            // Only the frame's caption and border, not its pages.
            if (frameWindow != nullptr)
                RedrawWindow(frameWindow, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_NOCHILDREN);
            return 0;
        case WM_ACTIVATEAPP:
            // The frame's caption looks active exactly when the setup is.
            if (frameWindow != nullptr) PostMessageA(frameWindow, WM_NCACTIVATE, wParam, 0);
            break;
        case WM_NCDESTROY:
            PostQuitMessage(0);  // ends the final message pump after the wizard
            break;
        case WM_SYSCOMMAND:
            // Closing the window cancels the wizard without asking; the window
            // itself goes only when the setup run is over.
            if (SystemCommandOf(wParam) == SC_CLOSE) {
                pageResult = PageCancelled;
                return 0;
            }
            // Minimising hid the frame with the window.
            if (SystemCommandOf(wParam) == SC_MAXIMIZE || SystemCommandOf(wParam) == SC_RESTORE)
                ShowWindow(frameWindow, SW_SHOWNORMAL);
            break;
        default: break;
    }
    return DefaultWindowAnswer(window, message, wParam, lParam);
}
