// The setup's texts: every caption, page text and message comes from the
// string tables of the current install set; the program holds none.
#pragma once
#include "archive/catalogue.h"
#include "common/types.h"

// Longest formatted message, terminator included.
const u32 MessageCapacity = 1024;

// String n of table t of the current install set, or the empty text when the
// table or string is missing. Never fails; the text lives as long as the script.
const char* LookupText(u32 table, u32 n);

// Writes message n of table 6 into `buffer` (MessageCapacity bytes). When the
// message holds "%s", that is replaced by MessagePath and "%%" by "%"; any
// other "%" sequence is copied as it stands, and only the first "%s" receives
// the path. Without "%s" the message is copied unchanged.
void FormatMessageText(char* buffer, u32 n);
// The same with any format text and path.
void FormatTextWithPath(char* buffer, const char* format, const char* path);
// Writes `format` into `buffer` (MessageCapacity bytes) with `number` in
// place of its first "%d", "%u", "%i" or "%lu"; "%%" becomes "%", and any
// other "%" sequence is copied as it stands, so a text from the archive can
// never make the formatter read an argument that is not there.
void FormatTextWithNumber(char* buffer, const char* format, u32 number);

void SetMessagePath(const char* text);
