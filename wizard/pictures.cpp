#include "wizard/pictures.h"

#include "common/helpers.h"
#include "wizard/dialog_helpers.h"

const u32 FileHeaderSize = 14;
const u32 TableStart = FileHeaderSize + sizeof(BITMAPINFOHEADER);  // 54
// The only version a LOGPALETTE has had.
const WORD LogicalPaletteVersion = 0x300;
const u32 PaletteSize = 256;
// Entries of a 256-colour system palette that hold its twenty fixed colours.
const u32 StaticColours = 10;
// Pixel depths GDI draws uncompressed, one bit each.
const u32 DrawableDepths = 1u << 1 | 1u << 4 | 1u << 8 | 1u << 16 | 1u << 24;

static bool IsDrawableDepth(u32 bits) {
    return bits == 32 || (bits < 32 && (DrawableDepths >> bits & 1) != 0);
}

bool LocatePicture(const LoadedBody& picture, PictureParts* parts) {
    if (picture.data == nullptr || picture.size < TableStart) return false;
    const BITMAPINFOHEADER* header = reinterpret_cast<const BITMAPINFOHEADER*>(picture.data + FileHeaderSize);
    i32 width = header->biWidth, height = header->biHeight;
    u32 bits = header->biBitCount;
    if (header->biSize != sizeof(BITMAPINFOHEADER) || header->biCompression != BI_RGB || !IsDrawableDepth(bits))
        return false;
    if (width <= 0 || height <= 0 || width > LargestPictureSide || height > LargestPictureSide) return false;
    // The colour table: the header's colour count, else a full table up to 8 bits.
    u32 colours = header->biClrUsed;
    if (colours == 0 && bits <= 8) colours = 1u << bits;
    u32 left = picture.size - TableStart;
    if (colours > left / 4) return false;
    left -= 4 * colours;
    u32 rowBytes = (static_cast<u32>(width) * bits + 31) / 32 * 4;
    if (rowBytes > left / static_cast<u32>(height)) return false;
    parts->info = reinterpret_cast<const BITMAPINFO*>(header);
    parts->tableSize = 4 * colours;
    parts->pixels = picture.data + TableStart + parts->tableSize;
    return true;
}

void DrawPicture(HDC dc, int x, int y, const PictureParts& parts) {
    int width = parts.info->bmiHeader.biWidth, height = parts.info->bmiHeader.biHeight;
    StretchDIBits(dc, x, y, width, height, 0, 0, width, height, parts.pixels, parts.info, DIB_RGB_COLORS, SRCCOPY);
}

void DrawSunkenFrame(HDC dc, int left, int top, int right, int bottom, bool fill) {
    int width = right - left, height = bottom - top;
    if (fill) FillSolidRect(dc, left + 1, top + 1, width - 2, height - 2, GetSysColor(COLOR_BTNFACE));
    COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
    FillSolidRect(dc, left, top, width - 1, 1, shadow);
    FillSolidRect(dc, left, top, 1, height - 1, shadow);
    COLORREF light = GetSysColor(COLOR_BTNHIGHLIGHT);
    FillSolidRect(dc, left, bottom - 1, width, 1, light);
    FillSolidRect(dc, right - 1, top, 1, height, light);
}

// The area of control `id` in the client coordinates of `window`.
static bool FindControlArea(HWND window, int id, RECT* area) {
    HWND control = GetDlgItem(window, id);
    if (control == nullptr) return false;
    GetWindowRect(control, area);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(area), 2);
    return true;
}

void DrawControlFrame(HWND window, HDC dc, int id, bool fill) {
    RECT area;
    if (FindControlArea(window, id, &area)) DrawSunkenFrame(dc, area.left, area.top, area.right, area.bottom, fill);
}

void DrawPictureInControl(HWND window, HDC dc, int id, const LoadedBody& picture) {
    RECT area;
    if (!FindControlArea(window, id, &area)) return;
    IntersectClipRect(dc, area.left, area.top, area.right, area.bottom);
    PictureParts parts;
    if (!LocatePicture(picture, &parts)) return;
    HPALETTE previous;
    HPALETTE palette = SelectPicturePalette(dc, picture, &previous);
    int width = parts.info->bmiHeader.biWidth, height = parts.info->bmiHeader.biHeight;
    // A picture larger than the control is centred too, and cut by the clip.
    int x = (area.right - area.left - width) / 2 + area.left;
    int y = (area.bottom - area.top - height) / 2 + area.top;
    DrawPicture(dc, x, y, parts);
    RestorePalette(dc, palette, previous);
    DrawSunkenFrame(dc, x, y, x + width, y + height, false);
}

// True on a 256-colour display whose palette the program shares.
static bool IsPaletteDevice(HDC dc) {
    return GetDeviceCaps(dc, PLANES) * GetDeviceCaps(dc, BITSPIXEL) == 8 &&
           (GetDeviceCaps(dc, RASTERCAPS) & RC_PALETTE) != 0;
}

HPALETTE CreatePicturePalette(HDC dc, const LoadedBody& picture) {
    PictureParts parts;
    if (!LocatePicture(picture, &parts) || parts.info->bmiHeader.biBitCount != 8) return nullptr;
    LOGPALETTE* description;
    if (!AllocateZeroedBlock(sizeof(LOGPALETTE) + (PaletteSize - 1) * sizeof(PALETTEENTRY), &description))
        return nullptr;
    description->palVersion = LogicalPaletteVersion;
    description->palNumEntries = PaletteSize;
    // Only as far as the picture's own table goes; the rest stays zero.
    u32 known = parts.tableSize / 4 < PaletteSize ? parts.tableSize / 4 : PaletteSize;
    for (u32 i = 0; i < PaletteSize; i++) {
        PALETTEENTRY& entry = description->palPalEntry[i];
        if (i < known) {
            const RGBQUAD& colour = parts.info->bmiColors[i];
            entry.peRed = colour.rgbRed;
            entry.peGreen = colour.rgbGreen;
            entry.peBlue = colour.rgbBlue;
        }
        if (i < StaticColours || i >= PaletteSize - StaticColours) entry.peFlags = PC_NOCOLLAPSE;
    }
    // Keep the system's twenty static colours where they are.
    if (IsPaletteDevice(dc)) {
        GetSystemPaletteEntries(dc, 0, StaticColours, description->palPalEntry);
        GetSystemPaletteEntries(dc, PaletteSize - StaticColours, StaticColours,
                                description->palPalEntry + PaletteSize - StaticColours);
    }
    HPALETTE palette = CreatePalette(description);
    ReleaseBlock(&description);
    return palette;
}

HPALETTE SelectPicturePalette(HDC dc, const LoadedBody& picture, HPALETTE* previous) {
    HPALETTE palette = CreatePicturePalette(dc, picture);
    *previous = nullptr;
    if (palette != nullptr) {
        *previous = SelectPalette(dc, palette, FALSE);
        RealizePalette(dc);
    }
    return palette;
}

void RestorePalette(HDC dc, HPALETTE palette, HPALETTE previous) {
    if (palette == nullptr) return;
    SelectPalette(dc, previous, TRUE);
    DeleteObject(palette);
}
