#include <windows.h>

#include "engine/leftover_journal.h"

#include <string.h>

#include "common/file.h"
#include "common/helpers.h"
#include "common/paths.h"
#include "common/system_paths.h"
#include "engine/setup_state.h"

namespace {

// One journal in the temporary folder. A second setup running at the same
// time cannot open it and runs without one.
const char JournalName[] = "kelvo-journal.tmp";
// A line per file: "+path" created, "-path" kept for the restart.
const char CreatedMark = '+';
const char KeptMark = '-';
// A journal far larger than any run writes is not ours to trust.
const u32 LargestJournal = 4u << 20;

// Deletes each file the journal's `size` bytes of `text` note as created
// and not as kept. The note of one that is there but cannot go yet (the
// killed run's handle not yet closed) stays; every other line is blanked.
void RemoveNotedFiles(char* text, u32 size) {
    for (u32 i = 0; i < size; i++)
        if (text[i] == '\n') text[i] = '\0';
    char* end = text + size;
    for (char* line = text; line < end; line += strlen(line) + 1) {
        if (line[0] != CreatedMark) continue;
        bool kept = false;
        for (char* other = text; other < end; other += strlen(other) + 1)
            kept = kept || (other[0] == KeptMark && strcmp(other + 1, line + 1) == 0);
        bool stays = !kept && !DeleteFileA(line + 1) && GetFileAttributesA(line + 1) != INVALID_FILE_ATTRIBUTES;
        if (!stays) line[0] = KeptMark;
    }
}

// Takes over what the open journal holds, the notes of a run that was
// killed: removes the files they name, then empties the journal but for
// the notes of files that are still there. Until the files are gone the
// notes stay, so a run stopped meanwhile loses none.
void RemoveLeftovers(FileHandle journal) {
    u32 size = FileSize(journal);
    char* text = nullptr;
    if (size == 0 || size > LargestJournal || !AllocateBlock(size + 1, &text) || !ReadExactly(journal, text, size)) {
        ReleaseBlock(&text);
        return;
    }
    text[size] = '\0';
    RemoveNotedFiles(text, size);
    SeekFile(journal, 0, SeekFromStart);
    SetEndOfFile(reinterpret_cast<HANDLE>(journal));
    for (char* line = text; line < text + size; line += strlen(line) + 1)
        if (line[0] == CreatedMark) NoteTemporaryFile(line + 1);
    ReleaseBlock(&text);
}

void WriteLine(char mark, const char* path) {
    if (leftoverJournal == NoFile) return;
    WriteToFile(leftoverJournal, &mark, 1);
    WriteToFile(leftoverJournal, path, static_cast<u32>(strlen(path)));
    WriteToFile(leftoverJournal, "\n", 1);
}

}  // namespace

void OpenLeftoverJournal() {
    if (!GetTempFolderPath(leftoverJournalPath) || strlen(leftoverJournalPath) + sizeof JournalName > PathCapacity)
        return;
    strcat(leftoverJournalPath, JournalName);
    // Opened with no sharing, a journal that is there is no live run's; it
    // is read, acted on and emptied through the same handle, so no other
    // run can slip in between.
    HANDLE file = CreateFileA(leftoverJournalPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    leftoverJournal = reinterpret_cast<FileHandle>(file);
    RemoveLeftovers(leftoverJournal);
}

void NoteTemporaryFile(const char* path) { WriteLine(CreatedMark, path); }

void KeepTemporaryFile(const char* path) { WriteLine(KeptMark, path); }

void CloseLeftoverJournal() {
    if (leftoverJournal == NoFile) return;
    CloseFile(leftoverJournal);
    leftoverJournal = NoFile;
    DeleteFileA(leftoverJournalPath);
}
