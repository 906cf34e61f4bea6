// The Windows ANSI code pages a setup's texts and names can be written in,
// the languages kelvo has texts for, and conversion between UTF-8 (what a
// project, the file system and a terminal hold) and those code pages (what
// the setup and uninstall programs read). Conversion goes through iconv
// on Linux, the Windows code page functions on Windows
// (builder/code_pages_platform.h).
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct CodePage {
    uint32_t number;        // 1252
    const char* iconvName;  // "CP1252"
    uint8_t charSet;        // the GDI character set of a font for its texts (LOGFONT lfCharSet)
    const char* script;     // "Western European", for messages
};

const uint32_t DefaultCodePage = 1252;

// Every code page kelvo writes, in the order messages name them.
const std::vector<CodePage>& AllowedCodePages();
// The allowed code page `number`, or null.
const CodePage* FindCodePage(uint32_t number);
// "874, 1250, ..., 950": the allowed numbers, for messages.
std::string AllowedCodePageList();

struct Language {
    const char* code;   // "de"
    uint16_t id;        // its Windows language id, 0x0407
    uint32_t codePage;  // the code page its texts are written in
};

// The languages kelvo has built-in texts for, English first.
const std::vector<Language>& KnownLanguages();
// The language of `code`, or null.
const Language* FindLanguage(const std::string& code);
const Language* FindLanguage(uint16_t id);

// Why a UTF-8 text cannot be written in a code page.
struct EncodeFault {
    std::string character;  // the character, as UTF-8; empty for bytes that are not UTF-8
    uint32_t codePoint = 0;
    // "\"é\" (U+00E9) is not in code page 1250", or that the text is not UTF-8.
    std::string Describe(uint32_t codePage) const;
};

// `utf8` in code page `codePage` (one of AllowedCodePages). On failure,
// returns nothing and fills *fault with the first character it cannot write.
std::optional<std::string> EncodeText(const std::string& utf8, uint32_t codePage, EncodeFault* fault);

// `text` of code page `codePage` as UTF-8. A byte sequence the code page
// does not define becomes U+FFFD. With `codePage` 0 (an archive that names
// none) the bytes are returned as they are.
std::string DecodeText(const std::string& text, uint32_t codePage);

// In the double-byte code pages (932, 936, 949, 950), a lead byte starts a
// two-byte character whose second byte may look like '\' or a letter.
bool IsLeadByte(uint32_t codePage, uint8_t byte);
