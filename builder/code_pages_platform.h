// The conversion under builder/code_pages.cpp, one per system:
// code_pages_posix.cpp through iconv, code_pages_win32.cpp through the
// Windows code page functions. Both give the same bytes for every text
// (tests/code_pages compares them character by character).
#pragma once
#include <cstddef>
#include <string>

#include "builder/code_pages.h"

// `utf8` in `page` into *out. False when some of it cannot be written,
// with *failedAt the offset in `utf8` of the first byte not converted.
bool EncodeInCodePage(const CodePage& page, const std::string& utf8, std::string* out, size_t* failedAt);

// `text` of `page` as UTF-8, each byte that does not start a character of
// the code page (with its trail byte, if any) becoming U+FFFD on its own.
std::string DecodeFromCodePage(const CodePage& page, const std::string& text);
