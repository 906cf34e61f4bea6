// The setup's texts: every caption, page text and message comes from the
// string tables of the current install set; the program holds none.
#pragma once
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

// The setup program's side (Win32):
// Shows `text` in a message box owned by the frame dialog, else the main
// window, with the setup title as caption; returns the MessageBoxA answer.
i32 ShowMessage(const char* text, u32 style);
// Dialog template n copied into a locked global block, followed by whatever
// templates come after it in the record (at most TemplateBlockSize bytes in
// all); null when the block cannot be had or the archive has no templates.
void* CopyTemplate(u32 n);
// Unlocks and frees a block from CopyTemplate; null is left alone.
void FreeTemplate(void* block);

// Message-box styles.
const u32 QuestionStyle = 0x24;  // Yes/No with a question mark
const u32 ReportStyle = 0x40;    // OK with an information icon

// Table numbers.
enum TextTable : u32 {
    WelcomeTexts = 0,
    InformationTexts = 1,
    DestinationTexts = 2,
    ConfirmationTexts = 3,
    ProgressTexts = 4,
    FinishTexts = 5,
    MessageTexts = 6,
    ButtonTexts = 7,
    SetSelectionTexts = 9,
};
