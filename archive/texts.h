// The setup's texts: every caption, page text and message comes from the
// string tables of the current install set; the program holds none.
#pragma once
#include "archive/catalogue.h"
#include "common/types.h"

// Longest formatted message, terminator included.
const u32 MessageCapacity = 1024;

// String n of table t of the current install set, or the empty text when the
// table or string is missing. Never fails; the text lives as long as the script.
// The set's LanguageTexts record for the user's language, when one was kept,
// stands in for all of the set's own tables.
const char* LookupText(u32 table, u32 n);
// The code page LookupText's texts are in; 0 for the system's.
u32 TextCodePage();

// Writes message n of table 6 into `buffer` (MessageCapacity bytes). When the
// message holds "%s", that is replaced by MessagePath and "%%" by "%"; any
// other "%" sequence is copied as it stands, and only the first "%s" receives
// the path. Without "%s" the message is copied unchanged.
void FormatMessageText(char* buffer, u32 n);
// The same with any format text and path. The path, in the system's code
// page, is written in the texts' code page (common/display_text.h).
void FormatTextWithPath(char* buffer, const char* format, const char* path);
// The same with a text for "%s" that is already in the texts' code page.
void FormatTextWithText(char* buffer, const char* format, const char* text);
// Writes `format` into `buffer` (MessageCapacity bytes) with `number` in
// place of its first "%d", "%u", "%i" or "%lu"; "%%" becomes "%", and any
// other "%" sequence is copied as it stands, so a text from the archive can
// never make the formatter read an argument that is not there.
void FormatTextWithNumber(char* buffer, const char* format, u32 number);

void SetMessagePath(const char* text);
