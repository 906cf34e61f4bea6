// Readable views of a loaded setup script, shared by kelvo's list, dump,
// verify and extract commands. The loader checked every body's offsets,
// counts and terminators when it loaded it, so the walks here trust them.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "archive/script.h"
#include "builder/record_writer.h"

// ---- install sets and file entries

std::vector<const FileEntry*> FileEntriesOf(uint32_t set);
// `set 0 "Demo"`: how messages name a set.
std::string SetLabel(uint32_t set);
// `set 0 "Demo", file 3 <set>\bin\app.exe`: how messages name an entry.
std::string EntryLabel(uint32_t set, uint32_t index, const FileEntry& entry);
// Table t of a set; false when the set has no such table.
bool TextTableOf(uint32_t set, uint32_t table, std::vector<std::string>* texts);

// Why an entry has nothing in the file data ("folder entry", ...), or null
// when its contents are stored there.
const char* WhyNotStored(const FileEntry& entry);
// Stored data that is a delta against another entry's contents.
bool IsDeltaEntry(const FileEntry& entry);
// Entries whose stored data decodes on its own, without a base.
bool IsDecodable(const FileEntry& entry);
// The stream offset just past the furthest stored data of any set.
uint64_t FileDataExtent();

// "<set>", "<windows>", "<system>", "<fonts>": how names show the folder an
// entry goes to. '<' and '>' cannot occur in a Windows name, so these never
// clash with a name from the archive.
std::string FolderLabel(uint8_t destinationFolder);
// "<set>\bin\app.exe".
std::string DestinationName(const FileEntry& entry);
const char* EntryKindName(uint8_t kind);
// One letter per entry flag, '-' where it is clear: "U-----" is the
// uninstaller. EntryFlagLegend explains the letters.
std::string EntryFlagLetters(uint8_t flags);
extern const char* const EntryFlagLegend;
// "1.2.3.4" from a version block's two words.
std::string VersionText(const VersionBlock& version);
const VersionBlock* VersionOf(const FileEntry& entry);
const FileTimes* TimesOf(const FileEntry& entry);

// ---- other records

std::vector<IniEntryFields> IniEntriesOf(const LoadedBody& body);
std::vector<RegistryEntryFields> RegistryEntriesOf(const LoadedBody& body);
std::vector<FilePatchFields> FilePatchesOf(const LoadedBody& body);
// "HKCU" for root 1 or 0x80000001.
std::string RegistryRootName(uint32_t root);

// Size of a picture record: a BMP file or a bare DIB header.
struct BitmapShape {
    bool known = false;
    int32_t width = 0;
    int32_t height = 0;
    uint16_t bitsPerPixel = 0;
};
BitmapShape BitmapShapeOf(const LoadedBody& body);

// Offsets of the dialog templates (the table at the record's start).
std::vector<uint32_t> TemplateOffsetsOf(const LoadedBody& body);

std::string Hex32(uint32_t value);
// "1 file", "2 files": a count with its noun.
std::string Counted(uint64_t count, const char* one, const char* many);
