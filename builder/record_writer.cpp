#include "builder/record_writer.h"

#include <cstring>
#include <stdexcept>

#include "builder/deflate_encoder.h"

void PutU8(Bytes& out, uint8_t value) { out.push_back(value); }

void PutU16(Bytes& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void PutU32(Bytes& out, uint32_t value) {
    PutU16(out, static_cast<uint16_t>(value));
    PutU16(out, static_cast<uint16_t>(value >> 16));
}

void PutBytes(Bytes& out, const Bytes& bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

void PutString(Bytes& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

template <typename T>
static void PutStruct(Bytes& out, const T& value) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&value);
    out.insert(out.end(), p, p + sizeof value);
}

static void CheckFits(size_t size, const char* what) {
    if (size > 0xFFFFFFFFu) throw std::length_error(std::string(what) + " is larger than 4 GB");
}

Bytes RecordBytes(uint16_t id, const Bytes& body, int level) {
    bool mayCompress = level >= 0 && id != SetupFlagsRecord && id != FixedPageRecord && id != InstallPaceRecord &&
                       id != CodePageRecord && id != UninstallLogPlaceRecord && id != RollbackRecord && !body.empty();
    Bytes packed;
    if (mayCompress) {
        Bytes stream = EncodeStream(body.data(), body.size(), level);
        if (stream.size() + 4 < body.size()) {
            PutU32(packed, static_cast<uint32_t>(body.size()));
            PutBytes(packed, stream);
        }
    }
    const Bytes& stored = packed.empty() ? body : packed;
    CheckFits(stored.size(), "a record");
    Bytes out;
    PutU16(out, id);
    PutU8(out, packed.empty() ? 0 : CompressedBody);
    PutU8(out, 0);
    PutU32(out, static_cast<uint32_t>(stored.size()));
    PutBytes(out, stored);
    return out;
}

Bytes EncodeFileEntry(const FileEntryFields& e) {
    FileEntry fixed;
    std::memset(&fixed, 0, sizeof fixed);
    fixed.iconIndex = e.iconIndex;
    fixed.dataOffset = e.dataOffset;
    fixed.storedSize = e.storedSize;
    fixed.size = e.size;
    fixed.checkValue = e.checkValue;
    fixed.entryFlags = e.entryFlags;
    fixed.destinationFolder = e.destinationFolder;
    fixed.afterSetupRole = e.afterSetupRole;
    fixed.sharedCount = e.sharedCount;
    fixed.entryKind = e.entryKind;
    fixed.registration = e.registration;
    fixed.baseSet = e.baseSet;
    fixed.baseIndex = e.baseIndex;
    Bytes out;
    PutStruct(out, fixed);
    if (e.entryFlags & HasVersionBlock) PutStruct(out, e.version.value_or(VersionBlock{}));
    if (e.entryFlags & HasFileTimes) PutStruct(out, e.times.value_or(FileTimes{}));
    for (const std::string& text : e.strings) PutString(out, text);
    if (out.size() > 0xFFFF) throw std::length_error("a file entry's names are longer than 64 KB");
    out[0] = static_cast<uint8_t>(out.size());
    out[1] = static_cast<uint8_t>(out.size() >> 8);
    return out;
}

Bytes EncodeFileList(const std::vector<FileEntryFields>& entries) {
    Bytes out;
    PutU32(out, static_cast<uint32_t>(entries.size()));
    for (const FileEntryFields& entry : entries) PutBytes(out, EncodeFileEntry(entry));
    return out;
}

Bytes EncodeStringTable(const std::vector<std::string>& table) {
    if (table.size() > 0xFFFF) throw std::length_error("a text table holds more than 65,535 texts");
    Bytes out;
    PutU16(out, static_cast<uint16_t>(table.size()));
    for (const std::string& text : table) PutString(out, text);
    return out;
}

// Texts and tables follow the fixed part; each non-empty one gets its offset.
Bytes EncodeInstallSet(const InstallSetFields& set) {
    Bytes out(InstallSetFixedSize, 0);
    auto setField = [&out](uint32_t field, uint32_t value) {
        for (int i = 0; i < 4; i++) out[field + i] = static_cast<uint8_t>(value >> (8 * i));
    };
    auto putText = [&](uint32_t field, const std::string& text) {
        if (text.empty()) return;
        setField(field, static_cast<uint32_t>(out.size()));
        PutString(out, text);
    };
    out[SetFlagsField] = static_cast<uint8_t>(set.setFlags);
    out[SetFlagsField + 1] = static_cast<uint8_t>(set.setFlags >> 8);
    setField(RegistryRootField, set.registryRoot);
    putText(DisplayNameField, set.displayName);
    putText(CaptionField, set.caption);
    putText(DefaultDestinationField, set.defaultDestination);
    putText(RegistryKeyField, set.registryKey);
    putText(RegistryValueField, set.registryValue);
    putText(IniFileField, set.iniFile);
    putText(IniSectionField, set.iniSection);
    putText(IniKeyField, set.iniKey);
    for (uint32_t t = 0; t < StringTableCount; t++) {
        const std::vector<std::string>& table = set.tables[t];
        if (table.empty()) continue;
        setField(StringTableFields + 4 * t, static_cast<uint32_t>(out.size()));
        PutBytes(out, EncodeStringTable(table));
    }
    CheckFits(out.size(), "an install set");
    return out;
}

Bytes EncodeLanguageTexts(uint16_t language, uint16_t codePage,
                          const std::array<std::vector<std::string>, StringTableCount>& tables) {
    Bytes out;
    PutU16(out, language);
    PutU16(out, codePage);
    for (const std::vector<std::string>& table : tables) {
        Bytes encoded = table.empty() ? Bytes() : EncodeStringTable(table);
        CheckFits(encoded.size(), "a text table");
        PutU32(out, static_cast<uint32_t>(encoded.size()));
        PutBytes(out, encoded);
    }
    return out;
}

static void PutCount(Bytes& out, size_t count, const char* what) {
    if (count > 0xFFFF) throw std::length_error(std::string("more than 65,535 ") + what);
    PutU16(out, static_cast<uint16_t>(count));
}

Bytes EncodeIniEntries(const std::vector<IniEntryFields>& entries) {
    Bytes out;
    PutCount(out, entries.size(), "INI entries");
    for (const IniEntryFields& e : entries) {
        PutU8(out, e.flags);
        PutString(out, e.file);
        PutString(out, e.section);
        PutString(out, e.key);
        PutString(out, e.value);
    }
    return out;
}

Bytes EncodeRegistryEntries(const std::vector<RegistryEntryFields>& entries) {
    Bytes out;
    PutCount(out, entries.size(), "registry entries");
    for (const RegistryEntryFields& e : entries) {
        PutU32(out, e.root);
        PutU8(out, e.flags);
        PutString(out, e.key);
        PutString(out, e.name);
        PutString(out, e.data);
    }
    return out;
}

Bytes EncodeFilePatches(const std::vector<FilePatchFields>& patches) {
    Bytes out;
    PutCount(out, patches.size(), "file patches");
    for (const FilePatchFields& p : patches) {
        PutU32(out, p.offset);
        PutU32(out, static_cast<uint32_t>(p.pattern.size()));
        out.insert(out.end(), 5, 0);
        PutString(out, p.file);
        PutString(out, p.replacement);
        PutBytes(out, p.pattern);
    }
    return out;
}

Bytes EncodeRegistration(const RegistrationFields& r) {
    Bytes out;
    PutU32(out, r.estimatedKilobytes);
    PutU32(out, r.flags);
    for (const std::string* text : {&r.version, &r.publisher, &r.icon, &r.aboutUrl, &r.helpUrl}) PutString(out, *text);
    return out;
}

Bytes EncodeSetupFlags(uint32_t flags) {
    Bytes out;
    PutU32(out, flags);
    return out;
}

Bytes EncodeFixedPage(uint16_t page, uint16_t set) {
    Bytes out;
    PutU16(out, page);
    PutU16(out, set);
    return out;
}

Bytes EncodeBackgroundStyle(uint32_t shadowColour, uint32_t textColour, const Bytes& logFont) {
    Bytes out;
    PutU32(out, shadowColour);
    PutU32(out, textColour);
    Bytes font = logFont;
    font.resize(sizeof(BackgroundStyleBody::font), 0);
    PutBytes(out, font);
    return out;
}

Bytes EncodeDialogTemplates(const std::vector<Bytes>& templates) {
    Bytes out(4 * templates.size(), 0);
    for (size_t i = 0; i < templates.size(); i++) {
        while (out.size() % 4 != 0) out.push_back(0);
        uint32_t offset = static_cast<uint32_t>(out.size());
        for (int b = 0; b < 4; b++) out[4 * i + b] = static_cast<uint8_t>(offset >> (8 * b));
        PutBytes(out, templates[i]);
    }
    return out;
}

// The header's length is only tested for zero; it holds V like the archives
// the setup program was made for, except that an empty stream gets 4 (the
// length word), since a zero would mark the file data as missing.
Bytes FileDataRecordBytes(const Bytes& volumeData) {
    CheckFits(volumeData.size() + 4, "the file data");
    Bytes out;
    PutU16(out, FileDataRecord);
    PutU8(out, 0);
    PutU8(out, 0);
    PutU32(out, volumeData.empty() ? 4 : static_cast<uint32_t>(volumeData.size()));
    PutU32(out, static_cast<uint32_t>(volumeData.size()));
    PutBytes(out, volumeData);
    return out;
}
