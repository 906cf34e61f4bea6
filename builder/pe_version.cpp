#include "builder/pe_version.h"

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "builder/whole_file.h"

namespace {

const uint16_t VersionResourceType = 16;  // RT_VERSION
const uint32_t FixedInfoSignature = 0xFEEF04BD;
const uint32_t SubdirectoryBit = 0x80000000;
const uint32_t MaxVersionResource = 65536;  // a larger one is not a version resource
const uint32_t SectionHeaderSize = 40;
const uint32_t ResourceDirectoryIndex = 2;

// Bounded little-endian reads of the file's bytes; a read outside them
// fails the whole lookup by throwing, which ReadPeVersion turns into "no
// version".
struct Image {
    const Bytes& file;
    struct Outside {};

    std::vector<uint8_t> Read(uint64_t offset, uint32_t count) {
        if (offset > file.size() || count > file.size() - offset) throw Outside{};
        return std::vector<uint8_t>(file.begin() + static_cast<ptrdiff_t>(offset),
                                    file.begin() + static_cast<ptrdiff_t>(offset + count));
    }
    uint16_t U16(uint64_t offset) { return ReadU16(Read(offset, 2).data()); }
    uint32_t U32(uint64_t offset) { return ReadU32(Read(offset, 4).data()); }
};

struct Section {
    uint32_t virtualAddress, virtualSize, rawOffset, rawSize;
};

struct PeLayout {
    std::vector<Section> sections;
    uint32_t resourceRva = 0;

    uint64_t FileOffset(uint32_t rva) const {
        for (const Section& s : sections) {
            uint32_t span = s.virtualSize > s.rawSize ? s.virtualSize : s.rawSize;
            if (rva >= s.virtualAddress && rva - s.virtualAddress < span) return s.rawOffset + (rva - s.virtualAddress);
        }
        throw Image::Outside{};
    }
};

PeLayout ReadLayout(Image& image) {
    if (image.U16(0) != 0x5A4D) throw Image::Outside{};  // "MZ"
    uint32_t pe = image.U32(0x3C);
    if (image.U32(pe) != 0x00004550) throw Image::Outside{};  // "PE\0\0"
    uint16_t sectionCount = image.U16(pe + 6);
    uint16_t optionalSize = image.U16(pe + 20);
    uint64_t optional = pe + 24;
    uint16_t magic = image.U16(optional);
    bool wide = magic == 0x20B;  // PE32+
    if (!wide && magic != 0x10B) throw Image::Outside{};
    uint32_t directoryCount = image.U32(optional + (wide ? 108 : 92));
    PeLayout layout;
    if (directoryCount <= ResourceDirectoryIndex) return layout;
    layout.resourceRva = image.U32(optional + (wide ? 112 : 96) + 8 * ResourceDirectoryIndex);
    for (uint32_t i = 0; i < sectionCount; i++) {
        uint64_t header = optional + optionalSize + i * SectionHeaderSize;
        layout.sections.push_back({image.U32(header + 12), image.U32(header + 8), image.U32(header + 20),
                                   image.U32(header + 16)});
    }
    return layout;
}

// Follows one level of the resource tree: the entry with `id`, or the first
// entry of any name when `id` is 0. Returns the entry's OffsetToData.
uint32_t ResourceChild(Image& image, uint64_t directory, uint16_t id) {
    uint32_t count = image.U16(directory + 12) + image.U16(directory + 14);
    for (uint32_t i = 0; i < count; i++) {
        uint64_t entry = directory + 16 + 8 * i;
        uint32_t name = image.U32(entry);
        if (id == 0 || (!(name & SubdirectoryBit) && name == id)) return image.U32(entry + 4);
    }
    throw Image::Outside{};
}

std::vector<uint8_t> VersionResource(Image& image, const PeLayout& layout) {
    if (layout.resourceRva == 0) throw Image::Outside{};
    uint64_t root = layout.FileOffset(layout.resourceRva);
    uint32_t next = ResourceChild(image, root, VersionResourceType);
    for (int level = 0; level < 2; level++) {  // the first name, then its first language
        if (!(next & SubdirectoryBit)) throw Image::Outside{};
        next = ResourceChild(image, root + (next & ~SubdirectoryBit), 0);
    }
    if (next & SubdirectoryBit) throw Image::Outside{};
    uint64_t leaf = root + next;
    uint32_t dataRva = image.U32(leaf), size = image.U32(leaf + 4);
    if (size > MaxVersionResource) throw Image::Outside{};
    return image.Read(layout.FileOffset(dataRva), size);
}

// One node of the VS_VERSIONINFO tree: wLength, wValueLength, wType, a
// UTF-16 key, then the value and the children, each on a 4-byte boundary.
struct VersionNode {
    std::u16string key;
    size_t value, valueLength, children, end;
};

size_t Align4(size_t n) { return (n + 3) & ~size_t(3); }

bool ParseNode(const std::vector<uint8_t>& data, size_t at, size_t limit, VersionNode& node) {
    if (at + 6 > limit) return false;
    size_t length = ReadU16(&data[at]);
    node.valueLength = ReadU16(&data[at + 2]);
    bool text = ReadU16(&data[at + 4]) == 1;
    node.end = at + length;
    if (length < 6 || node.end > limit) return false;
    node.key.clear();
    size_t p = at + 6;
    for (; p + 2 <= node.end && ReadU16(&data[p]) != 0; p += 2) node.key.push_back(static_cast<char16_t>(ReadU16(&data[p])));
    node.value = Align4(p + 2);
    size_t valueBytes = text ? 2 * node.valueLength : node.valueLength;
    node.children = Align4(node.value + valueBytes);
    return node.value + valueBytes <= node.end;
}

// The language of VarFileInfo's first Translation, or 0.
uint32_t FirstTranslationLanguage(const std::vector<uint8_t>& data, const VersionNode& root) {
    VersionNode child, var;
    for (size_t at = root.children; ParseNode(data, at, root.end, child); at = Align4(child.end)) {
        if (child.key != u"VarFileInfo") continue;
        for (size_t v = child.children; ParseNode(data, v, child.end, var); v = Align4(var.end))
            if (var.key == u"Translation" && var.valueLength >= 4) return ReadU16(&data[var.value]);
    }
    return 0;
}

}  // namespace

std::optional<VersionBlock> ReadPeVersion(const SourceFiles& files, const std::string& path) {
    Bytes file;
    try {
        file = files.Read(path);
    } catch (const FileReadError&) {
        return std::nullopt;
    }
    return ReadPeVersion(file);
}

std::optional<VersionBlock> ReadPeVersion(const Bytes& file) {
    Image image{file};
    try {
        std::vector<uint8_t> data = VersionResource(image, ReadLayout(image));
        VersionNode root;
        if (!ParseNode(data, 0, data.size(), root) || root.key != u"VS_VERSION_INFO" || root.valueLength < 52 ||
            ReadU32(&data[root.value]) != FixedInfoSignature)
            return std::nullopt;
        VersionBlock block;
        std::memset(&block, 0, sizeof block);
        block.versionHigh = ReadU32(&data[root.value + 8]);
        block.versionLow = ReadU32(&data[root.value + 12]);
        block.language = FirstTranslationLanguage(data, root);
        return block;
    } catch (const Image::Outside&) {
        return std::nullopt;
    }
}
