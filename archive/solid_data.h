// The unpacked stream of a setup whose file data is packed in solid blocks
// (the SolidBlocks record, archive/records.h). SeekFileData and ReadFileData
// (archive/file_data.h) come here when the record is loaded: a seek forward
// in the block being unpacked skips ahead, any other seek starts the block
// that holds the offset from its beginning, and reads go on into the next
// block, so entries read in stream order unpack every block once.
#pragma once
#include "archive/file_data.h"
#include "archive/inflater.h"
#include "archive/records.h"

// True when the loaded script packs its file data in solid blocks.
bool FileDataIsSolid();

// Checks a SolidBlocks body: its codec and properties, a table that fills
// the rest, and blocks whose unpacked sizes add up to less than 4 GB.
bool IsValidSolidBlocks(const u8* body, u32 size);

// The loaded table: its blocks, in order, and the unpacked stream's length.
u32 SolidBlockCount();
SolidBlock SolidBlockAt(u32 index);
u32 SolidDictionarySize();
u32 SolidUnpackedSize();

// The largest window a setup unpacks into: the dictionary size, or the
// largest block when that is smaller. 0 without solid blocks.
u32 SolidWindowSize();

FileDataState SeekSolidData(u32 offset);
// Reads up to `count` unpacked bytes. False only when a volume cannot be
// opened; damaged data reads short (with true).
bool ReadSolidData(u8* buffer, u32 count, u32* got);
// Passes `count` unpacked bytes from the position to `sink` as the stream
// decoder does: in pieces of WindowSize bytes and one last shorter piece.
// False when fewer could be had or the sink refused.
bool CopySolidData(u32 count, ByteSink& sink);

// Forgets the block being unpacked (a new run of reads starts), and with
// `release` frees the window and buffers as well.
void ResetSolidData(bool release);
