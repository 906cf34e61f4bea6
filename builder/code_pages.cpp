#include "builder/code_pages.h"

#include <cstdio>
#include <stdexcept>

#include "builder/code_pages_platform.h"

namespace {

// The code point of the UTF-8 character at `text` (of `size` bytes), and its
// length in *length; nothing when the bytes are not a valid character.
std::optional<uint32_t> Utf8Character(const unsigned char* text, size_t size, size_t* length) {
    if (size == 0) return std::nullopt;
    unsigned char first = text[0];
    size_t n = first < 0x80 ? 1 : (first & 0xE0) == 0xC0 ? 2 : (first & 0xF0) == 0xE0 ? 3 : (first & 0xF8) == 0xF0 ? 4 : 0;
    if (n == 0 || n > size) return std::nullopt;
    static const uint32_t leadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    static const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    uint32_t value = first & leadMask[n];
    for (size_t i = 1; i < n; i++) {
        if ((text[i] & 0xC0) != 0x80) return std::nullopt;
        value = (value << 6) | (text[i] & 0x3F);
    }
    if (value < smallest[n] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return std::nullopt;
    *length = n;
    return value;
}

}  // namespace

const std::vector<CodePage>& AllowedCodePages() {
    static const std::vector<CodePage> pages = {
        {874, "CP874", 222, "Thai"},
        {1250, "CP1250", 238, "Central European"},
        {1251, "CP1251", 204, "Cyrillic"},
        {1252, "CP1252", 0, "Western European"},
        {1253, "CP1253", 161, "Greek"},
        {1254, "CP1254", 162, "Turkish"},
        {1255, "CP1255", 177, "Hebrew"},
        {1256, "CP1256", 178, "Arabic"},
        {1257, "CP1257", 186, "Baltic"},
        {1258, "CP1258", 163, "Vietnamese"},
        {932, "CP932", 128, "Japanese"},
        {936, "CP936", 134, "Simplified Chinese"},
        {949, "CP949", 129, "Korean"},
        {950, "CP950", 136, "Traditional Chinese"},
    };
    return pages;
}

const CodePage* FindCodePage(uint32_t number) {
    for (const CodePage& page : AllowedCodePages())
        if (page.number == number) return &page;
    return nullptr;
}

std::string AllowedCodePageList() {
    std::string list;
    for (const CodePage& page : AllowedCodePages())
        list += (list.empty() ? "" : ", ") + std::to_string(page.number) + " (" + page.script + ")";
    return list;
}

const std::vector<Language>& KnownLanguages() {
    static const std::vector<Language> languages = {
        {"en", 0x0409, 1252}, {"de", 0x0407, 1252}, {"fr", 0x040C, 1252}, {"es", 0x0C0A, 1252},
        {"it", 0x0410, 1252}, {"nl", 0x0413, 1252}, {"pl", 0x0415, 1250}, {"ru", 0x0419, 1251},
        {"ja", 0x0411, 932},  {"zh", 0x0804, 936},
    };
    return languages;
}

const Language* FindLanguage(const std::string& code) {
    for (const Language& language : KnownLanguages())
        if (code == language.code) return &language;
    return nullptr;
}

const Language* FindLanguage(uint16_t id) {
    for (const Language& language : KnownLanguages())
        if (id == language.id) return &language;
    return nullptr;
}

std::string EncodeFault::Describe(uint32_t codePage) const {
    if (character.empty()) return "is not UTF-8 text";
    char number[16];
    snprintf(number, sizeof number, "U+%04X", codePoint);
    return "\"" + character + "\" (" + number + ") is not in code page " + std::to_string(codePage);
}

std::optional<std::string> EncodeText(const std::string& utf8, uint32_t codePage, EncodeFault* fault) {
    const CodePage* page = FindCodePage(codePage);
    if (page == nullptr) throw std::logic_error("code page " + std::to_string(codePage) + " is not one kelvo writes");
    std::string out;
    size_t failedAt = 0;
    if (EncodeInCodePage(*page, utf8, &out, &failedAt)) return out;
    size_t length = 0;
    const unsigned char* at = reinterpret_cast<const unsigned char*>(utf8.data()) + failedAt;
    std::optional<uint32_t> codePoint = Utf8Character(at, utf8.size() - failedAt, &length);
    *fault = EncodeFault();
    if (codePoint) {
        fault->character.assign(utf8, failedAt, length);
        fault->codePoint = *codePoint;
    }
    return std::nullopt;
}

std::string DecodeText(const std::string& text, uint32_t codePage) {
    const CodePage* page = FindCodePage(codePage);
    if (page == nullptr) return text;
    return DecodeFromCodePage(*page, text);
}

bool IsLeadByte(uint32_t codePage, uint8_t byte) {
    switch (codePage) {
        case 932: return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
        case 936:
        case 949:
        case 950: return byte >= 0x81 && byte <= 0xFE;
        default: return false;
    }
}
