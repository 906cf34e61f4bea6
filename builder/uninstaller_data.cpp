#include "builder/uninstaller_data.h"

#include <algorithm>

#include "archive/records.h"
#include "archive/script.h"
#include "archive/uninstall_settings.h"
#include "archive/uninstall_texts.h"
#include "builder/project.h"
#include "builder/project_reader.h"
#include "builder/toml_parser.h"

static_assert(UninstallCodePageRecord != UninstallSettingsRecord && UninstallLanguageTextsRecord != UninstallSettingsRecord,
              "each record of the uninstaller's data has an id of its own");

namespace {

// Compiled in, so kelvo needs no source tree to run.
const char defaultTexts[] =
#include "resources/uninstall_texts.inc"
    ;

void PutHeader(Bytes& out, uint16_t id, uint32_t length) {
    PutU16(out, id);
    PutU8(out, 0);
    PutU8(out, 0);
    PutU32(out, length);
}

void PutCounted(Bytes& out, const std::string& text) {
    PutU16(out, static_cast<uint16_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

struct Setting {
    SettingKind kind;
    uint8_t flags;
    uint32_t root;
    std::string first, second, third, value;
};

void PutSetting(Bytes& out, const Setting& setting) {
    PutU8(out, setting.kind);
    PutU8(out, setting.flags);
    PutU32(out, setting.root);
    for (const std::string* text : {&setting.first, &setting.second, &setting.third, &setting.value})
        PutCounted(out, *text);
}

// Only a value setup may have kept needs its data: the program compares it.
// One too long to compare is not listed, so it stays.
void AddKeptOrPlain(std::vector<Setting>& settings, Setting setting, uint8_t entryFlags) {
    if (!(entryFlags & KeepExistingValue)) {
        setting.value.clear();
    } else if (setting.value.size() >= SettingValueCapacity) {
        return;
    } else {
        setting.flags |= SettingOnlyIfUnchanged;
    }
    settings.push_back(std::move(setting));
}

// Setup writes to a file entry's installed file when a profile's name is
// that entry's name. Such a file is the entry's own: it is removed with the
// entry or kept with it, so its contents are left alone.
bool NamesFileEntry(const ProjectSet& set, const std::string& file, uint32_t codePage) {
    for (const ProjectEntry& entry : set.entries)
        if (SameName(entry.fields.strings[EntryFileName], file, codePage)) return true;
    return false;
}

Bytes TextsBody(const std::map<std::string, std::string>& texts) {
    Bytes body;
    for (const std::string& name : UninstallTextNames()) {
        auto text = texts.find(name);
        if (text != texts.end()) body.insert(body.end(), text->second.begin(), text->second.end());
        PutU8(body, 0);
    }
    return body;
}

}  // namespace

Bytes UninstallSettings(const ProjectSet& set, uint32_t codePage) {
    const InstallSetFields& fields = set.fields;
    std::vector<Setting> settings;
    if ((fields.setFlags & StoreDestinationInRegistry) && !fields.registryKey.empty())
        settings.push_back({RegistrySetting, 0, fields.registryRoot, fields.registryKey, fields.registryValue, "", ""});
    if ((fields.setFlags & StoreDestinationInIni) && !fields.iniFile.empty())
        settings.push_back({ProfileSetting, 0, 0, fields.iniFile, fields.iniSection, fields.iniKey, ""});
    for (const RegistryEntryFields& entry : set.registryEntries)
        AddKeptOrPlain(settings, {RegistrySetting, 0, entry.root, entry.key, entry.name, "", entry.data},
                       entry.flags);
    for (const IniEntryFields& entry : set.iniEntries) {
        if (NamesFileEntry(set, entry.file, codePage)) continue;
        AddKeptOrPlain(settings, {ProfileSetting, 0, 0, entry.file, entry.section, entry.key, entry.value},
                       entry.flags);
    }
    // Names the program has no room for name nothing the system would keep.
    std::vector<Setting> fitting;
    for (const Setting& setting : settings)
        if (std::max({setting.first.size(), setting.second.size(), setting.third.size()}) < SettingNameCapacity)
            fitting.push_back(setting);
    Bytes body;
    PutU32(body, static_cast<uint32_t>(fitting.size()));
    for (const Setting& setting : fitting) PutSetting(body, setting);
    return body;
}

const std::vector<std::string>& UninstallTextNames() {
    static const std::vector<std::string> names = {"caption", "confirm", "keep-shared", "removing",
                                                   "done",    "restart", "no-log",      "damaged-log"};
    static_assert(UninstallTextCount == 8, "a name for every text");
    return names;
}

std::map<std::string, std::string> DefaultUninstallTexts() {
    toml::table table = toml::parse(defaultTexts);
    std::map<std::string, std::string> texts;
    for (const std::string& name : UninstallTextNames()) texts[name] = table[name].value_or(std::string());
    return texts;
}

Bytes UninstallerData(uint32_t codePage, const std::vector<UninstallLanguageTexts>& languages, const Bytes& settings) {
    Bytes data;
    PutHeader(data, UninstallCodePageRecord, 4);
    PutU32(data, codePage);
    Bytes body = languages.empty() ? TextsBody({}) : TextsBody(languages.front().texts);
    PutHeader(data, UninstallTextsRecord, static_cast<uint32_t>(body.size()));
    data.insert(data.end(), body.begin(), body.end());
    for (size_t l = 1; l < languages.size(); l++) {
        Bytes more;
        PutU16(more, languages[l].language);
        PutU16(more, static_cast<uint16_t>(languages[l].codePage));
        PutBytes(more, TextsBody(languages[l].texts));
        PutHeader(data, UninstallLanguageTextsRecord, static_cast<uint32_t>(more.size()));
        PutBytes(data, more);
    }
    PutHeader(data, UninstallSettingsRecord, static_cast<uint32_t>(settings.size()));
    data.insert(data.end(), settings.begin(), settings.end());
    PutHeader(data, FileDataRecord, 0);  // setup writes the log's first header here
    return data;
}
