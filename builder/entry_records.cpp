#include "builder/entry_records.h"

#include <algorithm>
#include <cstdio>

#include "archive/solid_data.h"
#include "archive/validate.h"
#include "builder/archive_texts.h"

std::vector<const FileEntry*> FileEntriesOf(uint32_t set) {
    std::vector<const FileEntry*> entries;
    const FileEntry* entry = FileEntryAt(set, 0);
    if (entry == nullptr) return entries;
    uint32_t count = ReadU32(setupScript.sets[set].fileList.data);
    for (uint32_t i = 0; i < count; i++, entry = NextFileEntry(entry)) entries.push_back(entry);
    return entries;
}

std::string SetLabel(uint32_t set) {
    return "set " + std::to_string(set) + " \"" + Shown(InstallSetText(set, DisplayNameField)) + "\"";
}

std::string EntryLabel(uint32_t set, uint32_t index, const FileEntry& entry) {
    return SetLabel(set) + ", file " + std::to_string(index) + " " + DestinationName(entry);
}

bool TextTableOf(uint32_t set, uint32_t table, std::vector<std::string>* texts) {
    texts->clear();
    const LoadedBody& record = setupScript.sets[set].record;
    uint32_t offset = ReadU32(record.data + StringTableFields + 4 * table);
    if (offset == 0) return false;
    Cursor c = MakeCursor(record.data + offset, record.size - offset);
    uint16_t count = 0;
    TakeU16(c, &count);
    for (uint32_t i = 0; i < count; i++) {
        const char* text = reinterpret_cast<const char*>(c.next);
        SkipString(c);
        texts->push_back(text);
    }
    return true;
}

const char* WhyNotStored(const FileEntry& entry) {
    if (entry.entryKind == FolderEntry) return "folder entry";
    if (entry.entryKind == SetupFolderFile) return "lies beside the setup and is not installed";
    if (entry.entryFlags & CopiedFromSetupFolder) return "copied from the setup's folder, not stored in it";
    return nullptr;
}

bool IsDeltaEntry(const FileEntry& entry) { return (entry.entryFlags & DeltaEntry) != 0; }

bool IsDecodable(const FileEntry& entry) { return WhyNotStored(entry) == nullptr && !IsDeltaEntry(entry); }

uint64_t FileDataExtent() {
    uint64_t extent = 0;
    if (FileDataIsSolid()) {
        for (u32 i = 0; i < SolidBlockCount(); i++)
            extent = std::max<uint64_t>(extent, uint64_t(SolidBlockAt(i).packedOffset) + SolidBlockAt(i).packedSize);
        return extent;
    }
    for (uint32_t set = 0; set < setupScript.setCount; set++)
        for (const FileEntry* entry : FileEntriesOf(set))
            if (WhyNotStored(*entry) == nullptr)
                extent = std::max<uint64_t>(extent, uint64_t(entry->dataOffset) + entry->storedSize);
    return extent;
}

std::string FolderLabel(uint8_t destinationFolder) {
    switch (destinationFolder) {
        case SetFolder: return "<set>";
        case WindowsFolder: return "<windows>";
        case SystemFolder: return "<system>";
        case FontsFolder: return "<fonts>";
        default: return "<folder " + std::to_string(destinationFolder) + ">";
    }
}

std::string DestinationName(const FileEntry& entry) {
    std::string name = FolderLabel(entry.destinationFolder) + "\\" + Shown(EntryString(&entry, EntryFileName));
    if (entry.entryKind == FolderEntry && name.back() != '\\') name += '\\';
    return name;
}

const char* EntryKindName(uint8_t kind) {
    switch (kind) {
        case KeptFile: return "keep";  // left in place by the uninstaller
        case RemovedFile: return "file";
        case SetupFolderFile: return "beside";
        case FolderEntry: return "folder";
        default: return "kind?";
    }
}

namespace {
struct FlagLetter {
    uint8_t flag;
    char letter;
};
const FlagLetter flagLetters[] = {
    {UninstallerEntry, 'U'}, {VersionRule, 'V'}, {LanguageRule, 'L'},
    {HasFileTimes, 'T'},     {DeltaEntry, 'D'},  {CopiedFromSetupFolder, 'C'},
};
}  // namespace

const char* const EntryFlagLegend =
    "flags: U uninstaller, V version rule, L language rule, T file times, D delta, C copied from the setup's folder";

std::string EntryFlagLetters(uint8_t flags) {
    std::string letters;
    for (const FlagLetter& f : flagLetters) letters += (flags & f.flag) ? f.letter : '-';
    return letters;
}

std::string VersionText(const VersionBlock& version) {
    char text[48];
    snprintf(text, sizeof text, "%u.%u.%u.%u", version.versionHigh >> 16, version.versionHigh & 0xFFFF,
             version.versionLow >> 16, version.versionLow & 0xFFFF);
    return text;
}

const VersionBlock* VersionOf(const FileEntry& entry) {
    if (!(entry.entryFlags & HasVersionBlock)) return nullptr;
    return reinterpret_cast<const VersionBlock*>(reinterpret_cast<const uint8_t*>(&entry) + sizeof(FileEntry));
}

const FileTimes* TimesOf(const FileEntry& entry) {
    if (!(entry.entryFlags & HasFileTimes)) return nullptr;
    uint32_t offset = sizeof(FileEntry) + (VersionOf(entry) ? sizeof(VersionBlock) : 0);
    return reinterpret_cast<const FileTimes*>(reinterpret_cast<const uint8_t*>(&entry) + offset);
}

// ---- other records

static std::string TakeString(Cursor& c) {
    const char* text = reinterpret_cast<const char*>(c.next);
    return SkipString(c) ? std::string(text) : std::string();
}

// Each of these bodies starts with a u16 count.
static uint16_t TakeCount(const LoadedBody& body, Cursor& c) {
    c = MakeCursor(body.data, body.size);
    uint16_t count = 0;
    if (body.data != nullptr) TakeU16(c, &count);
    return count;
}

std::vector<IniEntryFields> IniEntriesOf(const LoadedBody& body) {
    Cursor c;
    std::vector<IniEntryFields> entries(TakeCount(body, c));
    for (IniEntryFields& e : entries) {
        TakeU8(c, &e.flags);
        e.file = TakeString(c);
        e.section = TakeString(c);
        e.key = TakeString(c);
        e.value = TakeString(c);
    }
    return entries;
}

std::vector<RegistryEntryFields> RegistryEntriesOf(const LoadedBody& body) {
    Cursor c;
    std::vector<RegistryEntryFields> entries(TakeCount(body, c));
    for (RegistryEntryFields& e : entries) {
        TakeU32(c, &e.root);
        TakeU8(c, &e.flags);
        e.key = TakeString(c);
        e.name = TakeString(c);
        e.data = TakeString(c);
    }
    return entries;
}

const uint32_t PatchUnreadBytes = 5;

std::vector<FilePatchFields> FilePatchesOf(const LoadedBody& body) {
    Cursor c;
    std::vector<FilePatchFields> patches(TakeCount(body, c));
    for (FilePatchFields& p : patches) {
        uint32_t patternLength = 0;
        TakeU32(c, &p.offset);
        TakeU32(c, &patternLength);
        SkipBytes(c, PatchUnreadBytes);
        p.file = TakeString(c);
        p.replacement = TakeString(c);
        const uint8_t* pattern = c.next;
        if (SkipBytes(c, patternLength)) p.pattern.assign(pattern, pattern + patternLength);
    }
    return patches;
}

std::string RegistryRootName(uint32_t root) {
    static const char* const names[] = {"HKCR", "HKCU", "HKLM", "HKU", "HKPD", "HKCC", "HKDD"};
    uint32_t index = root & 0x7FFFFFFF;  // a root index or the HKEY_* value itself
    if (index < sizeof names / sizeof names[0]) return names[index];
    return "root " + Hex32(root);
}

// A BMP file starts with "BM" and a 14-byte file header; a bare DIB starts
// with its info header's size: 12 for the old core header, 40 or more else.
BitmapShape BitmapShapeOf(const LoadedBody& body) {
    const uint32_t FileHeaderSize = 14, CoreHeaderSize = 12, InfoHeaderSize = 40;
    BitmapShape shape;
    if (body.data == nullptr) return shape;
    uint32_t start = body.size >= 2 && body.data[0] == 'B' && body.data[1] == 'M' ? FileHeaderSize : 0;
    if (body.size < start + CoreHeaderSize) return shape;
    const uint8_t* header = body.data + start;
    uint32_t headerSize = ReadU32(header);
    if (headerSize == CoreHeaderSize) {
        shape = {true, ReadU16(header + 4), ReadU16(header + 6), ReadU16(header + 10)};
    } else if (headerSize >= InfoHeaderSize && body.size >= start + InfoHeaderSize) {
        shape = {true, static_cast<int32_t>(ReadU32(header + 4)), static_cast<int32_t>(ReadU32(header + 8)),
                 ReadU16(header + 14)};
    }
    return shape;
}

std::vector<uint32_t> TemplateOffsetsOf(const LoadedBody& body) {
    std::vector<uint32_t> offsets;
    if (body.data == nullptr) return offsets;
    uint32_t count = ReadU32(body.data) / 4;
    for (uint32_t i = 0; i < count; i++) offsets.push_back(ReadU32(body.data + 4 * i));
    return offsets;
}

std::string Counted(uint64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string Hex32(uint32_t value) {
    char text[16];
    snprintf(text, sizeof text, "0x%08X", value);
    return text;
}
