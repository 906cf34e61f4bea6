// Device-independent pictures as the archive stores them (a complete .bmp
// file image) and the sunken frames drawn around pictures and separators.
#pragma once
#include <windows.h>

#include "archive/script.h"

// Longest side of a picture that is drawn at all; anything larger is taken
// for a damaged header.
const i32 LargestPictureSide = 16384;

// Where a picture's header, colour table and pixel rows lie inside its record.
struct PictureParts {
    const BITMAPINFO* info;  // the 40-byte information header, colour table behind it
    const u8* pixels;
    u32 tableSize;  // bytes of colour table
};

// Finds the parts of an uncompressed picture with a 40-byte information
// header. False when the record is absent, or when its sizes are not
// positive, absurd, or claim more bytes than the record holds: such a
// picture is never drawn, so nothing reads outside the record.
bool LocatePicture(const LoadedBody& picture, PictureParts* parts);
// Draws a located picture unscaled with its top-left corner at (x, y).
void DrawPicture(HDC dc, int x, int y, const PictureParts& parts);

// Draws a one-pixel sunken border around (left, top)-(right, bottom) in
// client coordinates, filling the inside with the button face when asked.
void DrawSunkenFrame(HDC dc, int left, int top, int right, int bottom, bool fill);
// DrawSunkenFrame around control `id` of `window`, if it exists.
void DrawControlFrame(HWND window, HDC dc, int id, bool fill);
// Draws `picture` (may be empty) centred in control `id`, clipped to it; the
// clip stays in force for the rest of the paint.
void DrawPictureInControl(HWND window, HDC dc, int id, const LoadedBody& picture);

// A 256-entry palette for an 8-bit picture; null for other pictures. Entries
// beyond the picture's own colour table are black.
HPALETTE CreatePicturePalette(HDC dc, const LoadedBody& picture);
// Selects and realises the palette of an 8-bit picture in the foreground;
// returns it (null for other pictures) and the palette it replaced.
HPALETTE SelectPicturePalette(HDC dc, const LoadedBody& picture, HPALETTE* previous);
// Puts `previous` back as a background palette and deletes `palette`; does
// nothing without a palette.
void RestorePalette(HDC dc, HPALETTE palette, HPALETTE previous);
