// Conversion through the Windows code page functions, for kelvo.exe. It
// gives the bytes iconv gives on Linux (code_pages_posix.cpp), so a project
// builds into the same setup on both: one character at a time, so the first
// that cannot be written is known, with no best-fit substitutes, and a
// byte 0x80-0x9F that Windows passes through as the C1 control of the same
// number counts as no character, as it does for iconv.
#include <windows.h>

#include <cstdint>

#include "builder/code_pages_platform.h"

namespace {

// The code point of the UTF-8 character at text[at], and its length; 0 for
// a length when the bytes there are not one.
uint32_t NextCharacter(const std::string& text, size_t at, size_t* length) {
    *length = 0;
    unsigned char first = static_cast<unsigned char>(text[at]);
    size_t n = first < 0x80 ? 1 : (first & 0xE0) == 0xC0 ? 2 : (first & 0xF0) == 0xE0 ? 3 : (first & 0xF8) == 0xF0 ? 4 : 0;
    if (n == 0 || at + n > text.size()) return 0;
    static const uint32_t leadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    static const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    uint32_t value = first & leadMask[n];
    for (size_t i = 1; i < n; i++) {
        unsigned char next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xC0) != 0x80) return 0;
        value = (value << 6) | (next & 0x3F);
    }
    if (value < smallest[n] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    *length = n;
    return value;
}

// One code point as UTF-16; returns the number of units.
int Utf16(uint32_t codePoint, wchar_t* units) {
    if (codePoint < 0x10000) {
        units[0] = static_cast<wchar_t>(codePoint);
        return 1;
    }
    codePoint -= 0x10000;
    units[0] = static_cast<wchar_t>(0xD800 + (codePoint >> 10));
    units[1] = static_cast<wchar_t>(0xDC00 + (codePoint & 0x3FF));
    return 2;
}

void AppendUtf8(uint32_t codePoint, std::string* out) {
    if (codePoint < 0x80) {
        *out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        *out += static_cast<char>(0xC0 | (codePoint >> 6));
        *out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        *out += static_cast<char>(0xE0 | (codePoint >> 12));
        *out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        *out += static_cast<char>(0xF0 | (codePoint >> 18));
        *out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        *out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

bool IsPassedThroughControl(uint32_t codePoint) { return codePoint >= 0x80 && codePoint <= 0x9F; }

}  // namespace

bool EncodeInCodePage(const CodePage& page, const std::string& utf8, std::string* out, size_t* failedAt) {
    for (size_t at = 0; at < utf8.size();) {
        size_t length = 0;
        uint32_t codePoint = NextCharacter(utf8, at, &length);
        wchar_t units[2];
        char bytes[8];
        BOOL usedDefault = FALSE;
        int written = 0;
        if (length != 0 && !IsPassedThroughControl(codePoint))
            written = WideCharToMultiByte(page.number, WC_NO_BEST_FIT_CHARS, units, Utf16(codePoint, units), bytes,
                                          sizeof bytes, nullptr, &usedDefault);
        if (written <= 0 || usedDefault) {
            *failedAt = at;
            return false;
        }
        out->append(bytes, static_cast<size_t>(written));
        at += length;
    }
    return true;
}

std::string DecodeFromCodePage(const CodePage& page, const std::string& text) {
    std::string out;
    for (size_t at = 0; at < text.size();) {
        int length = IsDBCSLeadByteEx(page.number, static_cast<BYTE>(text[at])) && at + 1 < text.size() ? 2 : 1;
        wchar_t units[4];
        int count = MultiByteToWideChar(page.number, MB_ERR_INVALID_CHARS, text.data() + at, length, units, 4);
        uint32_t codePoint = count == 1 ? static_cast<uint32_t>(units[0]) : 0;
        if (count == 2 && units[0] >= 0xD800 && units[0] <= 0xDBFF)
            codePoint = 0x10000 + ((static_cast<uint32_t>(units[0]) - 0xD800) << 10) + (units[1] - 0xDC00);
        if (count <= 0 || (codePoint != 0 && IsPassedThroughControl(codePoint) &&
                           static_cast<unsigned char>(text[at]) == codePoint)) {
            out += "\xEF\xBF\xBD";  // U+FFFD for a byte the code page does not define
            at++;
            continue;
        }
        if (count == 1 || codePoint >= 0x10000) {
            AppendUtf8(codePoint, &out);
        } else {
            for (int i = 0; i < count; i++) AppendUtf8(units[i], &out);
        }
        at += static_cast<size_t>(length);
    }
    return out;
}
