// Serialises the archive's record bodies in the layouts the setup program
// reads in place (archive/records.h). Used by `kelvo build` and by tests that
// craft archives, damaged ones included.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/records.h"

using Bytes = std::vector<uint8_t>;

void PutU8(Bytes& out, uint8_t value);
void PutU16(Bytes& out, uint16_t value);
void PutU32(Bytes& out, uint32_t value);
void PutBytes(Bytes& out, const Bytes& bytes);
// The text and its NUL terminator.
void PutString(Bytes& out, const std::string& text);

// Header and body of one record. With `level` >= 0 the body is compressed
// at that level when that makes the record smaller; SetupFlags and FixedPage
// (and InstallPace and CodePage, four bytes each) are always written raw,
// as the setup program reads them.
Bytes RecordBytes(uint16_t id, const Bytes& body, int level = -1);

struct FileEntryFields {
    uint16_t iconIndex = 0;
    uint32_t dataOffset = 0;
    uint32_t storedSize = 0;
    uint32_t size = 0;
    uint32_t checkValue = 0;
    uint8_t entryFlags = 0;  // the version and times flags follow the blocks below
    uint8_t destinationFolder = SetFolder;
    uint8_t afterSetupRole = NoRole;
    uint8_t sharedCount = 0;
    uint8_t entryKind = RemovedFile;
    uint8_t registration = NoRegistration;
    uint16_t baseSet = 0;
    uint32_t baseIndex = 0;
    std::optional<VersionBlock> version;  // written when entryFlags has VersionRule or LanguageRule
    std::optional<FileTimes> times;       // written when entryFlags has HasFileTimes
    std::array<std::string, EntryStringCount> strings;
};

Bytes EncodeFileEntry(const FileEntryFields& entry);
Bytes EncodeFileList(const std::vector<FileEntryFields>& entries);

struct InstallSetFields {
    uint16_t setFlags = 0;
    std::string displayName, caption, defaultDestination;
    uint32_t registryRoot = 1;  // HKEY_CURRENT_USER
    std::string registryKey, registryValue;
    std::string iniFile, iniSection, iniKey;
    // Table t; an empty table is written as absent.
    std::array<std::vector<std::string>, StringTableCount> tables;
};

Bytes EncodeInstallSet(const InstallSetFields& set);
// A StringTable: u16 count, then each text with its NUL.
Bytes EncodeStringTable(const std::vector<std::string>& table);
// A LanguageTexts record's body: the set's tables in one more language
// (an empty table is written as absent, L = 0).
Bytes EncodeLanguageTexts(uint16_t language, uint16_t codePage,
                          const std::array<std::vector<std::string>, StringTableCount>& tables);

struct IniEntryFields {
    uint8_t flags = 0;  // bit 0: only when the key has no value yet
    std::string file, section, key, value;
};
Bytes EncodeIniEntries(const std::vector<IniEntryFields>& entries);

struct RegistryEntryFields {
    uint32_t root = 1;
    uint8_t flags = 0;  // bit 0: keep an existing non-empty value
    std::string key, name, data;
};
Bytes EncodeRegistryEntries(const std::vector<RegistryEntryFields>& entries);

struct FilePatchFields {
    uint32_t offset = 0xFFFFFFFF;  // 0xFFFFFFFF: find the place by the pattern
    std::string file, replacement;
    Bytes pattern;
};
Bytes EncodeFilePatches(const std::vector<FilePatchFields>& patches);

// What the system's list of programs shows of a set's installation beyond
// its name (archive/records.h: Registration).
struct RegistrationFields {
    uint32_t estimatedKilobytes = 0;
    uint32_t flags = RegistrationNoModify | RegistrationNoRepair;
    std::string version, publisher, icon, aboutUrl, helpUrl;
};
Bytes EncodeRegistration(const RegistrationFields& registration);

Bytes EncodeSetupFlags(uint32_t flags);
Bytes EncodeFixedPage(uint16_t page, uint16_t set);
Bytes EncodeBackgroundStyle(uint32_t shadowColour, uint32_t textColour, const Bytes& logFont);
// The offset table followed by the templates, each starting on a 4-byte boundary.
Bytes EncodeDialogTemplates(const std::vector<Bytes>& templates);
// A FileData record: header, V, then the first volume's V bytes. Further
// volumes are separate files: V, then their bytes.
Bytes FileDataRecordBytes(const Bytes& volumeData);
