// `kelvo dump`: every record of a setup as one JSON document, for debugging.
// Texts in the archive are in a Windows ANSI code page; JSON wants UTF-8.
// They are converted from the code page the archive names (a language's
// texts from their own); in an archive that names none, each byte is taken
// as the Latin-1 character of that value, which keeps every byte recoverable.
#include <string.h>

#include <nlohmann/json.hpp>
#include <memory>
#include <ostream>

#include "archive/solid_data.h"
#include "builder/archive_texts.h"
#include "builder/entry_decode.h"
#include "builder/entry_records.h"
#include "builder/setup_commands.h"
#include "builder/setup_reader.h"

namespace {

using Json = nlohmann::ordered_json;

std::string Latin1(const std::string& text) {
    std::string utf8;
    for (unsigned char c : text) {
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else {
            utf8 += static_cast<char>(0xC0 | (c >> 6));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return utf8;
}

std::string Utf8(const std::string& text, uint32_t codePage) {
    return codePage != 0 ? ShownIn(text, codePage) : Latin1(text);
}

std::string Utf8(const std::string& text) { return Utf8(text, archiveTexts.codePage); }

std::string HexBytes(const uint8_t* data, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (size_t i = 0; i < size; i++) {
        hex += digits[data[i] >> 4];
        hex += digits[data[i] & 15];
    }
    return hex;
}

Json PictureJson(const LoadedBody& picture) {
    if (picture.data == nullptr) return nullptr;
    Json json = {{"size", picture.size}};
    BitmapShape shape = BitmapShapeOf(picture);
    if (shape.known)
        json["bitmap"] = {{"width", shape.width}, {"height", shape.height}, {"bitsPerPixel", shape.bitsPerPixel}};
    return json;
}

Json StyleJson(const LoadedBody& style) {
    if (style.data == nullptr) return nullptr;
    const BackgroundStyleBody& body = *reinterpret_cast<const BackgroundStyleBody*>(style.data);
    const uint32_t TextColourOffset = 4;
    // LOGFONTA: height, width, escapement, orientation, weight (i32 each),
    // then eight bytes of attributes and a 32-byte face name.
    const uint32_t WeightOffset = 16, ItalicOffset = 20, FaceNameOffset = 28, FaceNameSize = 32;
    std::string face(reinterpret_cast<const char*>(body.font + FaceNameOffset),
                     strnlen(reinterpret_cast<const char*>(body.font + FaceNameOffset), FaceNameSize));
    const uint32_t CharSetOffset = 23;
    return {{"shadowColour", ReadU32(style.data)},
            {"textColour", ReadU32(style.data + TextColourOffset)},
            {"font",
             {{"height", static_cast<int32_t>(ReadU32(body.font))},
              {"weight", static_cast<int32_t>(ReadU32(body.font + WeightOffset))},
              {"italic", body.font[ItalicOffset] != 0},
              {"charSet", body.font[CharSetOffset]},
              {"faceName", Utf8(face)}}}};
}

Json TemplatesJson(const LoadedBody& templates) {
    if (templates.data == nullptr) return nullptr;
    std::vector<uint32_t> offsets = TemplateOffsetsOf(templates);
    return {{"size", templates.size}, {"count", offsets.size()}, {"offsets", offsets}};
}

// FILETIME values: 100 ns ticks since 1601, low word first.
Json TimesJson(const FileTimes& times) {
    auto ticks = [](u32 low, u32 high) { return (uint64_t(high) << 32) | low; };
    return {{"creation", ticks(times.creation[0], times.creation[1])},
            {"lastAccess", ticks(times.lastAccess[0], times.lastAccess[1])},
            {"lastWrite", ticks(times.lastWrite[0], times.lastWrite[1])}};
}

// The records' structures are packed, so their fields are copied (unary +)
// rather than bound to the references the JSON constructors take.
Json FileEntryJson(const FileEntry& e) {
    Json json = {{"entrySize", +e.entrySize},
                 {"outcome", +e.outcome},
                 {"iconIndex", +e.iconIndex},
                 {"dataOffset", +e.dataOffset},
                 {"storedSize", +e.storedSize},
                 {"size", +e.size},
                 {"checkValue", +e.checkValue},
                 {"entryFlags", +e.entryFlags},
                 {"flagLetters", EntryFlagLetters(e.entryFlags)},
                 {"destinationFolder", +e.destinationFolder},
                 {"afterSetupRole", +e.afterSetupRole},
                 {"sharedCount", +e.sharedCount},
                 {"entryKind", +e.entryKind},
                 {"kindName", EntryKindName(e.entryKind)},
                 {"registration", +e.registration},
                 {"baseSet", +e.baseSet},
                 {"baseIndex", +e.baseIndex}};
    if (const VersionBlock* v = VersionOf(e))
        json["version"] = {{"versionHigh", +v->versionHigh}, {"versionLow", +v->versionLow},
                           {"language", +v->language}, {"text", VersionText(*v)}};
    if (const FileTimes* t = TimesOf(e)) json["times"] = TimesJson(*t);
    static const char* const stringNames[EntryStringCount] = {"fileName",          "menuFolders", "shortcutName",
                                                              "shortcutArguments", "desktopName", "desktopArguments"};
    for (uint32_t n = 0; n < EntryStringCount; n++) json[stringNames[n]] = Utf8(EntryString(&e, n));
    return json;
}

Json TextsJson(uint32_t set) {
    Json tables = Json::array();
    std::vector<std::string> texts;
    for (uint32_t t = 0; t < StringTableCount; t++) {
        if (!TextTableOf(set, t, &texts)) {
            tables.push_back(nullptr);
            continue;
        }
        Json table = Json::array();
        for (const std::string& text : texts) table.push_back(Utf8(text));
        tables.push_back(table);
    }
    return tables;
}

// The set's LanguageTexts records, each in its own code page.
Json LanguagesJson(uint32_t set) {
    Json languages = Json::array();
    for (const LanguageTextsView& view : archiveTexts.languages[set]) {
        Json tables = Json::array();
        for (uint32_t t = 0; t < StringTableCount; t++) {
            if (!view.present[t]) {
                tables.push_back(nullptr);
                continue;
            }
            Json table = Json::array();
            for (const std::string& text : view.tables[t]) table.push_back(Utf8(text, view.codePage));
            tables.push_back(table);
        }
        languages.push_back({{"language", view.language}, {"languageName", LanguageName(view.language)},
                             {"codePage", view.codePage}, {"texts", tables}});
    }
    return languages;
}

Json UninstallTextsJson(const std::vector<std::string>& texts, uint32_t codePage) {
    Json json = Json::array();
    for (const std::string& text : texts) json.push_back(Utf8(text, codePage));
    return json;
}

// The texts kelvo's uninstall program carries in an uninstaller's data,
// when the file data holds them; null for data without a texts record.
Json UninstallerTextsJson(const FileEntry& entry, StoredDataReader& reader) {
    if (!(entry.entryFlags & UninstallerEntry) || !IsDecodable(entry)) return nullptr;
    std::vector<uint8_t> data;
    CheckingSink sink(entry.size, nullptr, NoFile, &data);
    if (!reader.Decode(entry, sink).empty()) return nullptr;
    UninstallerTextsView view = UninstallerTextsOf(data);
    if (!view.found) return nullptr;
    Json languages = Json::array();
    for (const UninstallerTextsView::Language& language : view.languages)
        languages.push_back({{"language", language.language}, {"languageName", LanguageName(language.language)},
                             {"codePage", language.codePage}, {"texts", UninstallTextsJson(language.texts, language.codePage)}});
    return {{"codePage", view.codePage}, {"texts", UninstallTextsJson(view.texts, view.codePage)}, {"languages", languages}};
}

void AddOtherEntries(const InstallSetSlot& slot, Json& set) {
    set["iniEntries"] = Json::array();
    for (const IniEntryFields& e : IniEntriesOf(slot.iniEntries))
        set["iniEntries"].push_back({{"flags", e.flags}, {"file", Utf8(e.file)}, {"section", Utf8(e.section)},
                                     {"key", Utf8(e.key)}, {"value", Utf8(e.value)}});
    set["registryEntries"] = Json::array();
    for (const RegistryEntryFields& e : RegistryEntriesOf(slot.registryEntries))
        set["registryEntries"].push_back({{"root", e.root}, {"rootName", RegistryRootName(e.root)},
                                          {"flags", e.flags}, {"key", Utf8(e.key)}, {"name", Utf8(e.name)},
                                          {"data", Utf8(e.data)}});
    set["filePatches"] = Json::array();
    for (const FilePatchFields& p : FilePatchesOf(slot.filePatches))
        set["filePatches"].push_back({{"offset", p.offset}, {"file", Utf8(p.file)},
                                      {"replacement", Utf8(p.replacement)},
                                      {"pattern", HexBytes(p.pattern.data(), p.pattern.size())}});
}

Json SetJson(uint32_t set, StoredDataReader* reader) {
    Json json = {{"index", set},
                 {"setFlags", InstallSetNumber(set, SetFlagsField) & 0xFFFF},
                 {"displayName", Utf8(InstallSetText(set, DisplayNameField))},
                 {"caption", Utf8(InstallSetText(set, CaptionField))},
                 {"defaultDestination", Utf8(InstallSetText(set, DefaultDestinationField))},
                 {"registryRoot", InstallSetNumber(set, RegistryRootField)},
                 {"registryKey", Utf8(InstallSetText(set, RegistryKeyField))},
                 {"registryValue", Utf8(InstallSetText(set, RegistryValueField))},
                 {"iniFile", Utf8(InstallSetText(set, IniFileField))},
                 {"iniSection", Utf8(InstallSetText(set, IniSectionField))},
                 {"iniKey", Utf8(InstallSetText(set, IniKeyField))},
                 {"texts", TextsJson(set)},
                 {"languages", LanguagesJson(set)}};
    json["files"] = Json::array();
    for (const FileEntry* entry : FileEntriesOf(set)) {
        Json file = FileEntryJson(*entry);
        if (reader != nullptr && (entry->entryFlags & UninstallerEntry)) file["uninstallerTexts"] = UninstallerTextsJson(*entry, *reader);
        json["files"].push_back(file);
    }
    AddOtherEntries(setupScript.sets[set], json);
    return json;
}

// The SolidBlocks record's table; null when each entry is a stream of its own.
Json SolidBlocksJson() {
    if (!FileDataIsSolid()) return Json();
    Json blocks = Json::array();
    for (u32 i = 0; i < SolidBlockCount(); i++) {
        SolidBlock block = SolidBlockAt(i);
        blocks.push_back({{"packedOffset", block.packedOffset},
                          {"packedSize", block.packedSize},
                          {"unpackedSize", block.unpackedSize},
                          {"x86Branches", block.filter == X86BranchFilter},
                          {"lc", block.properties % 9},
                          {"lp", block.properties / 9 % 5},
                          {"pb", block.properties / 45}});
    }
    return {{"codec", "lzma"}, {"dictionary", SolidDictionarySize()}, {"window", SolidWindowSize()}, {"blocks", blocks}};
}

Json SetupJson(const LoadedSetup& setup) {
    const SetupScript& s = setupScript;
    Json json = {{"file", Latin1(setup.Path())}, {"archiveOffset", setup.ArchiveOffset()}, {"fileSize", setup.FileSize()}};
    json["setupFlags"] = {{"value", s.setupFlags},
                          {"fullScreenBackground", (s.setupFlags & FullScreenBackground) != 0},
                          {"removeEarlierInstallations", (s.setupFlags & RemoveEarlierInstallations) != 0}};
    json["wizardPicture"] = PictureJson(s.wizardPicture);
    json["backgroundPicture"] = PictureJson(s.backgroundPicture);
    json["backgroundTitle"] = s.backgroundTitle.data ? Json(Utf8(reinterpret_cast<const char*>(s.backgroundTitle.data))) : Json();
    json["backgroundStyle"] = StyleJson(s.backgroundStyle);
    json["dialogTemplates"] = TemplatesJson(s.dialogTemplates);
    json["fixedPage"] = singlePageMode ? Json{{"page", fixedPageNumber}, {"set", s.fixedPageSet}} : Json();
    json["prefixData"] = s.prefixData.data ? Json{{"size", s.prefixData.size}} : Json();
    json["uninstallLogBeside"] = (s.uninstallLogPlace & UninstallLogBeside) != 0;
    json["rollback"] = s.rollback != 0;
    json["solidBlocks"] = SolidBlocksJson();
    json["fileData"] = {{"start", s.fileDataStart}, {"length", s.fileDataLength}, {"complete", setup.HasFileData()}};
    json["codePage"] = archiveTexts.codePage != 0 ? Json(archiveTexts.codePage) : Json();
    if (!archiveTexts.faults.empty()) json["textFaults"] = archiveTexts.faults;
    std::unique_ptr<StoredDataReader> reader;
    if (setup.HasFileData()) reader = std::make_unique<StoredDataReader>(FileDataExtent());
    json["sets"] = Json::array();
    for (uint32_t set = 0; set < s.setCount; set++) json["sets"].push_back(SetJson(set, reader.get()));
    return json;
}

}  // namespace

int DumpSetup(const std::string& setupPath, std::ostream& out, std::ostream& err) {
    LoadedSetup setup(setupPath);
    if (!setup.IsLoaded()) {
        ReportError(err, setup.Problem());
        return CommandFailed;
    }
    out << SetupJson(setup).dump(2) << '\n';
    return CommandSucceeded;
}
