// An install set's INI, registry and file patch lists and its InstallSet
// record, laid out as the loader leaves them in memory (the build tool's
// encoders cannot be linked into the Windows tests). Windows tests only.
#pragma once
#include <windows.h>

#include <string.h>

#include <string>
#include <vector>

#include "archive/records.h"

namespace set_entry_bodies {

inline void PutU16(std::vector<u8>& out, u16 value) {
    out.push_back(static_cast<u8>(value));
    out.push_back(static_cast<u8>(value >> 8));
}

inline void PutU32(std::vector<u8>& out, u32 value) {
    for (int i = 0; i < 4; i++) out.push_back(static_cast<u8>(value >> (8 * i)));
}

inline void PutU32At(std::vector<u8>& out, u32 at, u32 value) {
    for (int i = 0; i < 4; i++) out[at + i] = static_cast<u8>(value >> (8 * i));
}

// The text and its terminator.
inline void PutString(std::vector<u8>& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

// Overwrites a list's u16 count, for lists that promise more than they hold.
inline void SetListCount(std::vector<u8>& list, u16 count) {
    list[0] = static_cast<u8>(count);
    list[1] = static_cast<u8>(count >> 8);
}

}  // namespace set_entry_bodies

const u8 KeepExisting = 0x01;
const u32 AtMarker = 0xFFFFFFFF;

struct IniEntryShape {
    u8 flags;
    std::string file, section, key, value;
};

struct RegistryEntryShape {
    u32 root;
    u8 flags;
    std::string key, name, data;
};

struct FilePatchShape {
    u32 offset;  // AtMarker: where the marker is
    std::string file, text;
    std::string marker;  // bytes, no terminator
};

inline std::vector<u8> IniEntriesBody(const std::vector<IniEntryShape>& entries) {
    using namespace set_entry_bodies;
    std::vector<u8> out;
    PutU16(out, static_cast<u16>(entries.size()));
    for (const IniEntryShape& e : entries) {
        out.push_back(e.flags);
        for (const std::string* text : {&e.file, &e.section, &e.key, &e.value}) PutString(out, *text);
    }
    return out;
}

inline std::vector<u8> RegistryEntriesBody(const std::vector<RegistryEntryShape>& entries) {
    using namespace set_entry_bodies;
    std::vector<u8> out;
    PutU16(out, static_cast<u16>(entries.size()));
    for (const RegistryEntryShape& e : entries) {
        PutU32(out, e.root);
        out.push_back(e.flags);
        for (const std::string* text : {&e.key, &e.name, &e.data}) PutString(out, *text);
    }
    return out;
}

inline std::vector<u8> FilePatchesBody(const std::vector<FilePatchShape>& patches) {
    using namespace set_entry_bodies;
    std::vector<u8> out;
    PutU16(out, static_cast<u16>(patches.size()));
    for (const FilePatchShape& p : patches) {
        PutU32(out, p.offset);
        PutU32(out, static_cast<u32>(p.marker.size()));
        out.insert(out.end(), 5, 0xA5);  // bytes nobody reads
        PutString(out, p.file);
        PutString(out, p.text);
        out.insert(out.end(), p.marker.begin(), p.marker.end());
    }
    return out;
}

// The InstallSet fields of the destination record; null texts are absent.
struct DestinationRecordShape {
    u16 setFlags = 0;
    u32 root = 1;
    const char* key = nullptr;
    const char* value = nullptr;
    const char* iniFile = nullptr;
    const char* iniSection = nullptr;
    const char* iniKey = nullptr;
};

inline std::vector<u8> InstallSetBody(const DestinationRecordShape& set) {
    using namespace set_entry_bodies;
    std::vector<u8> body(InstallSetFixedSize, 0);
    auto text = [&body](u32 field, const char* value) {
        if (value == nullptr) return;
        PutU32At(body, field, static_cast<u32>(body.size()));
        PutString(body, value);
    };
    body[SetFlagsField] = static_cast<u8>(set.setFlags);
    body[SetFlagsField + 1] = static_cast<u8>(set.setFlags >> 8);
    PutU32At(body, RegistryRootField, set.root);
    text(RegistryKeyField, set.key);
    text(RegistryValueField, set.value);
    text(IniFileField, set.iniFile);
    text(IniSectionField, set.iniSection);
    text(IniKeyField, set.iniKey);
    return body;
}
