#include "builder/project.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <toml++/toml.h>

#include "builder/uninstaller_data.h"

#include "archive/check_value.h"
#include "builder/default_resources.h"
#include "builder/dialog_resources.h"
#include "builder/pe_version.h"
#include "builder/source_glob.h"
#include "builder/whole_file.h"
#include "control/texts.h"

namespace {

const uint32_t MaxFaceNameLength = 31;  // LOGFONTA's face name holds 32 bytes with the NUL
const uint32_t NormalWeight = 400, BoldWeight = 700;
const uint8_t DefaultCharset = 1;  // DEFAULT_CHARSET: the font is picked by its name
const int DefaultFontHeight = 36;
const uint64_t FileTimeTicksPerSecond = 10000000;
const uint64_t FileTimeEpochOffset = 11644473600;  // seconds from 1601 to 1970

// The project file: named in messages, and the folder relative paths start from.
struct Context {
    std::string file;
    std::string folder;  // relative sources are taken from here
};

[[noreturn]] void Fail(const Context& context, const toml::source_region& where, const std::string& key,
                       const std::string& message) {
    throw ProjectError(context.file + ":" + std::to_string(where.begin.line) + ": " + key + ": " + message);
}

// Reads one TOML table, with messages that name the table's key path. Every
// key must be one of `known`, so a misspelt key is an error, not a silent default.
class TableReader {
public:
    // A reader whose keys its caller checks.
    TableReader(const Context& context, const toml::table& table, std::string path)
        : context(context), table(table), path(std::move(path)) {}
    TableReader(const Context& context, const toml::table& table, std::string path,
                std::initializer_list<const char*> known)
        : context(context), table(table), path(std::move(path)) {
        for (auto&& entry : table) {
            const toml::key& key = entry.first;
            if (std::none_of(known.begin(), known.end(), [&key](const char* k) { return key.str() == k; }))
                Fail(context, key.source(), KeyPath(std::string(key.str())), "unknown key" + KnownList(known));
        }
    }

    std::string KeyPath(const std::string& key) const { return path.empty() ? key : path + "." + key; }
    const Context& Where() const { return context; }
    const toml::table& Table() const { return table; }
    const std::string& Path() const { return path; }
    const toml::node* Find(const char* key) const { return table.get(key); }
    bool Has(const char* key) const { return Find(key) != nullptr; }

    [[noreturn]] void FailAt(const char* key, const std::string& message) const {
        const toml::node* node = Find(key);
        Fail(context, node != nullptr ? node->source() : table.source(), KeyPath(key), message);
    }

    std::string String(const char* key, const std::string& fallback = "") const {
        const toml::node* node = Find(key);
        if (node == nullptr) return fallback;
        if (!node->is_string()) FailAt(key, "must be a text");
        return node->as_string()->get();
    }
    std::string RequiredString(const char* key) const {
        if (!Has(key)) FailAt(key, "is missing");
        return String(key);
    }
    bool Bool(const char* key, bool fallback = false) const {
        const toml::node* node = Find(key);
        if (node == nullptr) return fallback;
        if (!node->is_boolean()) FailAt(key, "must be true or false");
        return node->as_boolean()->get();
    }
    int64_t Integer(const char* key, int64_t low, int64_t high, int64_t fallback) const {
        const toml::node* node = Find(key);
        if (node == nullptr) return fallback;
        if (!node->is_integer()) FailAt(key, "must be a whole number");
        int64_t value = node->as_integer()->get();
        if (value < low || value > high)
            FailAt(key, "must be from " + std::to_string(low) + " to " + std::to_string(high));
        return value;
    }
    // A text that must be one of `choices`; the result is its index.
    uint8_t Choice(const char* key, std::initializer_list<const char*> choices, uint8_t fallback) const {
        if (!Has(key)) return fallback;
        std::string value = String(key);
        uint8_t index = 0;
        for (const char* c : choices) {
            if (value == c) return index;
            index++;
        }
        FailAt(key, "must be " + ChoiceList(choices) + ", not \"" + value + "\"");
    }
    const toml::table* SubTable(const char* key) const {
        const toml::node* node = Find(key);
        if (node != nullptr && !node->is_table()) FailAt(key, "must be a table, such as { ... }");
        return node != nullptr ? node->as_table() : nullptr;
    }
    // An array of tables ([[key]]); empty when absent.
    std::vector<const toml::table*> Tables(const char* key) const {
        std::vector<const toml::table*> tables;
        const toml::node* node = Find(key);
        if (node == nullptr) return tables;
        if (!node->is_array_of_tables()) FailAt(key, "must be written as [[" + KeyPath(key) + "]] tables");
        for (const toml::node& element : *node->as_array()) tables.push_back(element.as_table());
        return tables;
    }
    std::vector<std::string> Strings(const toml::node& node, const std::string& key) const {
        std::vector<std::string> texts;
        const toml::array* array = node.as_array();
        if (array == nullptr) Fail(context, node.source(), KeyPath(key), "must be a list of texts");
        for (const toml::node& element : *array) {
            if (!element.is_string()) Fail(context, element.source(), KeyPath(key), "must be a list of texts");
            texts.push_back(element.as_string()->get());
        }
        return texts;
    }

private:
    static std::string ChoiceList(std::initializer_list<const char*> choices) {
        std::string list;
        size_t i = 0;
        for (const char* c : choices) {
            list += (i == 0 ? "" : i + 1 == choices.size() ? " or " : ", ") + std::string("\"") + c + "\"";
            i++;
        }
        return list;
    }
    static std::string KnownList(std::initializer_list<const char*> known) {
        std::string list;
        for (const char* k : known) list += (list.empty() ? " (known keys: " : ", ") + std::string(k);
        return list + ")";
    }

    const Context& context;
    const toml::table& table;
    std::string path;
};

std::string Indexed(const std::string& path, const char* key, size_t index) {
    return (path.empty() ? std::string(key) : path + "." + key) + "[" + std::to_string(index) + "]";
}

std::string SourcePath(const Context& context, const std::string& relative) {
    std::string path = relative;
    std::replace(path.begin(), path.end(), '\\', '/');
    if (path.empty() || path[0] == '/' || context.folder.empty()) return path;
    return context.folder + "/" + path;
}

Bytes ReadProjectFile(const TableReader& reader, const char* key, const std::string& relative) {
    std::string path = SourcePath(reader.Where(), relative);
    try {
        return ReadWholeFile(path);
    } catch (const FileReadError& e) {
        reader.FailAt(key, "cannot read " + path + ": " + strerror(e.error));
    }
}

Bytes ReadBitmap(const TableReader& reader, const char* key) {
    std::string relative = reader.String(key);
    Bytes image = ReadProjectFile(reader, key, relative);
    if (image.size() < 2 || image[0] != 'B' || image[1] != 'M') reader.FailAt(key, relative + " is not a .bmp file");
    return image;
}

// "#RRGGBB" as a COLORREF (0x00BBGGRR).
uint32_t Colour(const TableReader& reader, const char* key, uint32_t fallback) {
    if (!reader.Has(key)) return fallback;
    std::string text = reader.String(key);
    bool ok = text.size() == 7 && text[0] == '#' && text.find_first_not_of("0123456789abcdefABCDEF", 1) == std::string::npos;
    if (!ok) reader.FailAt(key, "must be a colour written \"#RRGGBB\", not \"" + text + "\"");
    uint32_t rgb = static_cast<uint32_t>(std::stoul(text.substr(1), nullptr, 16));
    return ((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16);
}

// A name below the destination: '/' is taken for '\', and it may not leave
// the folder it is installed to.
std::string DestinationName(const TableReader& reader, const char* key, std::string name) {
    std::replace(name.begin(), name.end(), '/', '\\');
    std::string problem;
    if (name.empty()) problem = "must not be empty";
    else if (name.find_first_of(":*?\"<>|") != std::string::npos) problem = "must not hold any of : * ? \" < > |";
    for (size_t start = 0; problem.empty() && start <= name.size();) {
        size_t end = std::min(name.find('\\', start), name.size());
        std::string part = name.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") problem = "must be a relative path without empty, . or .. parts";
        start = end + 1;
    }
    if (!problem.empty()) reader.FailAt(key, "\"" + name + "\" " + problem);
    return name;
}

// ---------------------------------------------------------------------------
// [setup]

const std::map<std::string, uint32_t>& TextTableNames() {
    static const std::map<std::string, uint32_t> names = {
        {"welcome", WelcomeTexts},       {"information", InformationTexts}, {"destination", DestinationTexts},
        {"confirmation", ConfirmationTexts}, {"progress", ProgressTexts},   {"finish", FinishTexts},
        {"messages", MessageTexts},      {"buttons", ButtonTexts},          {"selection", SetSelectionTexts}};
    return names;
}

typedef std::array<std::vector<std::string>, StringTableCount> TextTables;

const uint32_t MaxTextNumber = 999;
const uint32_t InformationText = 1;  // string 1 of the information texts, shown in an edit box
// What "{title}" in a built-in text becomes for a set without a name.
const char* const UnnamedTitle = "the program";

// One text a project or the built-in texts give: string `number` of table `table`.
struct GivenText {
    uint32_t table;
    uint32_t number;
    std::string text;
};
typedef std::vector<GivenText> GivenTexts;

// What [setup] gives every set: the title as its name, and texts.
struct SetDefaults {
    std::string title;
    GivenTexts texts;
    bool automaticDelta = false;  // [setup] delta = "auto": every file's default
    std::map<std::string, std::string> uninstallTexts;  // kelvo's uninstall program's, by name
};

// A number of at most nine digits, so it fits in 32 bits.
bool IsDecimal(const std::string& text) {
    const size_t MaxDigits = 9;
    return !text.empty() && text.size() <= MaxDigits && text.find_first_not_of("0123456789") == std::string::npos;
}

uint32_t TextTableNumber(const TableReader& texts, const toml::key& key) {
    std::string name(key.str());
    auto named = TextTableNames().find(name);
    if (named != TextTableNames().end()) return named->second;
    if (IsDecimal(name) && std::stoul(name) < StringTableCount) return static_cast<uint32_t>(std::stoul(name));
    Fail(texts.Where(), key.source(), texts.KeyPath(name), "not a text table: use welcome, information, destination, "
         "confirmation, progress, finish, messages, buttons, selection or a number 0 to 10");
}

// One table's texts: a list gives its strings from 0 on, a table of numbers
// ({ 31 = "..." }) only the strings it names.
void ReadTextTable(const TableReader& texts, const std::string& name, const toml::node& node, uint32_t table,
                   GivenTexts& given) {
    const toml::table* numbered = node.as_table();
    if (numbered == nullptr) {
        std::vector<std::string> list = texts.Strings(node, name);
        if (list.size() > MaxTextNumber + 1)
            Fail(texts.Where(), node.source(), texts.KeyPath(name), "holds more than " + std::to_string(MaxTextNumber + 1) + " texts");
        for (size_t n = 0; n < list.size(); n++) given.push_back({table, static_cast<uint32_t>(n), list[n]});
        return;
    }
    for (auto&& [key, text] : *numbered) {
        std::string number(key.str());
        std::string path = texts.KeyPath(name + "." + number);
        if (!IsDecimal(number) || std::stoul(number) > MaxTextNumber) Fail(texts.Where(), key.source(), path, "a text's number must be 0 to " + std::to_string(MaxTextNumber));
        if (!text.is_string()) Fail(texts.Where(), text.source(), path, "must be a text");
        given.push_back({table, static_cast<uint32_t>(std::stoul(number)), text.as_string()->get()});
    }
}

// A texts table: [setup.texts], [set.texts] or the built-in texts. Each key
// names a text table.
GivenTexts ReadTexts(const TableReader& texts) {
    GivenTexts given;
    std::set<uint32_t> seen;
    for (auto&& [key, node] : texts.Table()) {
        uint32_t table = TextTableNumber(texts, key);
        if (!seen.insert(table).second)
            Fail(texts.Where(), key.source(), texts.KeyPath(std::string(key.str())), "table " + std::to_string(table) + " is given twice");
        ReadTextTable(texts, std::string(key.str()), node, table, given);
    }
    return given;
}

// The `texts` table of [setup] or a [[set]].
GivenTexts ReadOwnTexts(const TableReader& owner) {
    const toml::table* table = owner.SubTable("texts");
    if (table == nullptr) return {};
    return ReadTexts(TableReader(owner.Where(), *table, owner.KeyPath("texts")));
}

const GivenTexts& BuiltInTexts() {
    static const GivenTexts texts = [] {
        Context context{"built-in texts.toml", ""};
        std::string source = DefaultTextsSource();
        toml::table document = toml::parse(source, context.file);
        return ReadTexts(TableReader(context, document, ""));
    }();
    return texts;
}

void Replace(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

// A built-in text with the set's name for "{title}". In a text the setup
// program formats (one with %s or %d), a "%" of the name is written "%%".
std::string WithTitle(std::string text, std::string title) {
    if (text.find("%s") != std::string::npos || text.find("%d") != std::string::npos) Replace(title, "%", "%%");
    Replace(text, "{title}", title);
    return text;
}

void PutText(TextTables& tables, const GivenText& given) {
    std::vector<std::string>& table = tables[given.table];
    if (table.size() <= given.number) table.resize(given.number + 1);
    table[given.number] = given.text;
}

// A multi-line edit box breaks lines only at CR LF: a lone LF becomes CR LF.
std::string WithCrLf(const std::string& text) {
    std::string result;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) result += '\r';
        result += text[i];
    }
    return result;
}

// A set's tables: the built-in texts, then each string [setup.texts] gives,
// then each string the set gives.
TextTables SetTexts(const std::string& name, const GivenTexts& setupTexts, const GivenTexts& setTexts) {
    TextTables tables;
    for (const GivenText& given : BuiltInTexts())
        PutText(tables, {given.table, given.number, WithTitle(given.text, name.empty() ? UnnamedTitle : name)});
    for (const GivenText& given : setupTexts) PutText(tables, given);
    for (const GivenText& given : setTexts) PutText(tables, given);
    std::vector<std::string>& information = tables[InformationTexts];
    if (information.size() > InformationText) information[InformationText] = WithCrLf(information[InformationText]);
    return tables;
}

void ReadBackground(const TableReader& setup, Project& project, const std::string& title) {
    const toml::table* table = setup.SubTable("background");
    if (table == nullptr) return;
    TableReader reader(setup.Where(), *table, setup.KeyPath("background"),
                       {"picture", "title", "font", "size", "bold", "weight", "italic", "shadow-colour", "text-colour"});
    project.setupFlags |= FullScreenBackground;
    if (reader.Has("picture")) project.backgroundPicture = ReadBitmap(reader, "picture");
    project.backgroundTitle = reader.String("title", title);
    std::string font = reader.String("font", "Arial");
    if (font.empty() || font.size() > MaxFaceNameLength)
        reader.FailAt("font", "a font name takes 1 to " + std::to_string(MaxFaceNameLength) + " characters");
    if (reader.Has("bold") && reader.Has("weight")) reader.FailAt("weight", "give either bold or weight, not both");
    int64_t weight = reader.Integer("weight", 1, 1000, reader.Bool("bold") ? BoldWeight : NormalWeight);
    int height = static_cast<int>(reader.Integer("size", 1, 1000, DefaultFontHeight));
    Bytes logFont = MakeLogFont(font, height, static_cast<int>(weight), reader.Bool("italic"));
    project.backgroundStyle =
        EncodeBackgroundStyle(Colour(reader, "shadow-colour", 0x000000), Colour(reader, "text-colour", 0xFFFFFF), logFont);
}

std::vector<Bytes> ReadTemplates(const TableReader& setup) {
    if (setup.String("templates").empty()) setup.FailAt("templates", "names no file; leave it out for the built-in templates");
    std::string path = SourcePath(setup.Where(), setup.String("templates"));
    try {
        return CompileDialogTemplates(path);
    } catch (const std::runtime_error& e) {
        setup.FailAt("templates", e.what());
    }
}

// kelvo's English texts for its uninstall program, with those that
// [setup.uninstall-texts] gives in their place.
std::map<std::string, std::string> ReadUninstallTexts(const TableReader& setup) {
    std::map<std::string, std::string> texts = DefaultUninstallTexts();
    const toml::table* table = setup.SubTable("uninstall-texts");
    if (table == nullptr) return texts;
    if (setup.Has("uninstaller-program"))
        setup.FailAt("uninstall-texts", "does not go with uninstaller-program (they are kelvo's own uninstall program's)");
    const std::vector<std::string>& names = UninstallTextNames();
    for (auto&& entry : *table) {
        std::string name(entry.first.str());
        if (std::find(names.begin(), names.end(), name) == names.end()) {
            std::string known;
            for (const std::string& n : names) known += (known.empty() ? "" : ", ") + n;
            setup.FailAt("uninstall-texts", "has no text \"" + name + "\" (known: " + known + ")");
        }
        if (!entry.second.is_string()) setup.FailAt("uninstall-texts", "\"" + name + "\" must be a text");
        texts[name] = entry.second.as_string()->get();
    }
    return texts;
}

TableReader SetupReader(const TableReader& root, const toml::table& table) {
    return TableReader(root.Where(), table, "setup",
                       {"title", "wizard-picture", "templates", "remove-earlier-installations", "single-page",
                        "background", "texts", "uninstaller-program", "delta", "uninstall-texts"});
}

void ReadSetup(const TableReader& root, Project& project, SetDefaults& defaults) {
    defaults.uninstallTexts = DefaultUninstallTexts();
    const toml::table* table = root.SubTable("setup");
    if (table == nullptr) return;
    TableReader setup = SetupReader(root, *table);
    defaults.title = setup.String("title");
    defaults.texts = ReadOwnTexts(setup);
    if (setup.Bool("remove-earlier-installations")) project.setupFlags |= RemoveEarlierInstallations;
    // An empty name means no picture at all.
    if (setup.Has("wizard-picture"))
        project.wizardPicture = setup.String("wizard-picture").empty() ? Bytes() : ReadBitmap(setup, "wizard-picture");
    if (setup.Has("templates")) project.dialogTemplates = ReadTemplates(setup);
    if (setup.Has("uninstaller-program")) {
        project.prefixData = ReadProjectFile(setup, "uninstaller-program", setup.String("uninstaller-program"));
        if (project.prefixData.empty()) setup.FailAt("uninstaller-program", "names an empty file");
    }
    defaults.automaticDelta = setup.Choice("delta", {"none", "auto"}, 0) == 1;
    defaults.uninstallTexts = ReadUninstallTexts(setup);
    ReadBackground(setup, project, defaults.title);
}

// Read after the sets, whose number it is checked against.
void ReadSinglePage(const TableReader& root, Project& project) {
    const toml::table* setupTable = root.SubTable("setup");
    if (setupTable == nullptr) return;
    TableReader setup = SetupReader(root, *setupTable);
    const toml::table* table = setup.SubTable("single-page");
    if (table == nullptr) return;
    TableReader reader(root.Where(), *table, setup.KeyPath("single-page"), {"page", "set"});
    if (!reader.Has("page")) reader.FailAt("page", "is missing");
    FixedPageBody page;
    page.page = static_cast<uint16_t>(reader.Integer("page", 0, NoFixedPage - 1, 0));
    page.set = static_cast<uint16_t>(reader.Integer("set", 0, static_cast<int64_t>(project.sets.size()) - 1, 0));
    project.fixedPage = page;
}

// ---------------------------------------------------------------------------
// [[set]]

// A root's number is its HKEY_* value less 0x80000000.
const std::map<std::string, uint32_t>& RegistryRoots() {
    static const std::map<std::string, uint32_t> roots = {{"HKCR", 0}, {"HKCU", 1}, {"HKLM", 2}, {"HKU", 3}};
    return roots;
}

uint32_t RegistryRoot(const TableReader& reader) {
    std::string root = reader.RequiredString("root");
    auto it = RegistryRoots().find(root);
    if (it == RegistryRoots().end()) reader.FailAt("root", "must be \"HKLM\", \"HKCU\", \"HKCR\" or \"HKU\", not \"" + root + "\"");
    return it->second;
}

void ReadDestinationStores(const TableReader& set, InstallSetFields& fields) {
    if (const toml::table* table = set.SubTable("destination-registry")) {
        TableReader reader(set.Where(), *table, set.KeyPath("destination-registry"), {"root", "key", "value"});
        fields.registryRoot = RegistryRoot(reader);
        fields.registryKey = reader.RequiredString("key");
        fields.registryValue = reader.RequiredString("value");
        fields.setFlags |= StoreDestinationInRegistry;
    }
    if (const toml::table* table = set.SubTable("destination-ini")) {
        TableReader reader(set.Where(), *table, set.KeyPath("destination-ini"), {"file", "section", "key"});
        fields.iniFile = reader.RequiredString("file");
        fields.iniSection = reader.RequiredString("section");
        fields.iniKey = reader.RequiredString("key");
        fields.setFlags |= StoreDestinationInIni;
    }
}


// The times of a file as FILETIMEs; creation is taken to be the last write.
FileTimes SourceTimes(const TableReader& reader, const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) reader.FailAt("keep-times", "cannot read the times of " + path);
    auto fileTime = [](const timespec& t, uint32_t out[2]) {
        uint64_t ticks = (static_cast<uint64_t>(t.tv_sec) + FileTimeEpochOffset) * FileTimeTicksPerSecond +
                         static_cast<uint64_t>(t.tv_nsec) / 100;
        out[0] = static_cast<uint32_t>(ticks);
        out[1] = static_cast<uint32_t>(ticks >> 32);
    };
    FileTimes times;
    fileTime(info.st_mtim, times.creation);
    fileTime(info.st_atim, times.lastAccess);
    fileTime(info.st_mtim, times.lastWrite);
    return times;
}

void ReadShortcuts(const TableReader& file, FileEntryFields& fields, bool glob) {
    if (const toml::table* table = file.SubTable("shortcut")) {
        if (glob) file.FailAt("shortcut", "needs a single source, not a glob");
        TableReader reader(file.Where(), *table, file.KeyPath("shortcut"), {"folders", "name", "arguments", "icon"});
        std::string folders;
        if (const toml::node* node = reader.Find("folders")) {
            std::vector<std::string> parts = node->is_string() ? std::vector<std::string>{node->as_string()->get()}
                                                               : reader.Strings(*node, "folders");
            // One shortcut in each folder: the setup program reads them as a
            // ";" list ("#Start Menu#" and "#Startup#" name those menus).
            for (const std::string& part : parts) {
                if (part.find(';') != std::string::npos) reader.FailAt("folders", "a folder name cannot hold ';'");
                folders += (folders.empty() ? "" : ";") + part;
            }
        }
        fields.strings[EntryMenuFolders] = folders;
        fields.strings[EntryShortcutName] = reader.RequiredString("name");
        fields.strings[EntryShortcutArguments] = reader.String("arguments");
        fields.iconIndex = static_cast<uint16_t>(reader.Integer("icon", 0, 0xFFFF, 0));
    }
    if (const toml::table* table = file.SubTable("desktop")) {
        if (glob) file.FailAt("desktop", "needs a single source, not a glob");
        TableReader reader(file.Where(), *table, file.KeyPath("desktop"), {"name", "arguments"});
        fields.strings[EntryDesktopName] = reader.RequiredString("name");
        fields.strings[EntryDesktopArguments] = reader.String("arguments");
    }
}

// The fields every match of a [[set.file]] shares.
FileEntryFields CommonFileFields(const TableReader& file, bool glob) {
    FileEntryFields fields;
    fields.destinationFolder = file.Choice("destination", {"set", "windows", "system", "fonts"}, SetFolder);
    fields.entryKind = file.Choice("uninstall", {"keep", "remove"}, 1) == 0 ? KeptFile : RemovedFile;
    fields.sharedCount = file.Bool("shared") ? 1 : 0;
    fields.afterSetupRole = file.Choice("role", {"none", "open", "run"}, NoRole);
    fields.registration = file.Choice("register", {"none", "screensaver", "self"}, NoRegistration);
    if (file.Bool("version-rule")) fields.entryFlags |= VersionRule;
    if (file.Bool("language-rule")) fields.entryFlags |= LanguageRule;
    if (file.Bool("keep-times")) fields.entryFlags |= HasFileTimes;
    if (file.Bool("copy-from-setup-folder")) fields.entryFlags |= CopiedFromSetupFolder;
    if (file.Bool("stays-in-setup-folder")) fields.entryKind = SetupFolderFile;
    ReadShortcuts(file, fields, glob);
    return fields;
}

// A file the setup program takes from its own folder: copied from there, or
// used where it lies.
bool IsBesideSetup(const FileEntryFields& fields) {
    return (fields.entryFlags & CopiedFromSetupFolder) != 0 || fields.entryKind == SetupFolderFile;
}

// Version block, file times, and for a file that is not packed (it lies
// beside the setup) the size and check value the setup program compares.
void AddSourceDetails(const TableReader& file, ProjectEntry& entry) {
    FileEntryFields& fields = entry.fields;
    if (fields.entryFlags & HasVersionBlock) {
        fields.version = ReadPeVersion(entry.sourcePath);
        if (!fields.version)
            file.FailAt(file.Has("version-rule") ? "version-rule" : "language-rule",
                        entry.sourcePath + " has no version resource (VERSIONINFO) to compare with");
    }
    if (fields.entryFlags & HasFileTimes) fields.times = SourceTimes(file, entry.sourcePath);
    if (IsBesideSetup(fields)) {
        Bytes contents = ReadWholeFile(entry.sourcePath);
        fields.size = static_cast<uint32_t>(contents.size());
        fields.checkValue = RotateAddCheck(contents.data(), fields.size, 0);
        entry.sourcePath.clear();  // nothing of it is packed
    }
}

// delta = "auto" | "none", or delta-base = { set = N, file = "name" }.
std::optional<DeltaRequest> ReadDeltaRequest(const TableReader& file, bool glob, bool automaticByDefault) {
    std::string where = file.Where().file + ":" + std::to_string(file.Table().source().begin.line) + ": ";
    if (const toml::table* table = file.SubTable("delta-base")) {
        if (glob) file.FailAt("delta-base", "needs a single source, not a glob");
        if (file.Has("delta")) file.FailAt("delta", "give either delta or delta-base");
        TableReader reader(file.Where(), *table, file.KeyPath("delta-base"), {"set", "file"});
        if (!reader.Has("set")) reader.FailAt("set", "is missing");
        DeltaRequest request;
        request.set = static_cast<uint32_t>(reader.Integer("set", 0, MaxInstallSets - 1, 0));
        request.file = reader.RequiredString("file");
        std::replace(request.file.begin(), request.file.end(), '/', '\\');
        request.where = where + file.KeyPath("delta-base");
        return request;
    }
    bool automatic = file.Choice("delta", {"none", "auto"}, automaticByDefault ? 1 : 0) == 1;
    if (!automatic) return std::nullopt;
    DeltaRequest request;
    request.automatic = true;
    request.where = where + file.KeyPath("delta");
    return request;
}

// Keys that make no sense for a file beside the setup.
void CheckBesideSetupKeys(const TableReader& file) {
    bool copied = file.Bool("copy-from-setup-folder"), stays = file.Bool("stays-in-setup-folder");
    if (copied && stays) file.FailAt("stays-in-setup-folder", "give either copy-from-setup-folder or stays-in-setup-folder");
    if (!copied && !stays) return;
    const char* key = copied ? "copy-from-setup-folder" : "stays-in-setup-folder";
    for (const char* conflicting : {"keep-times", "delta", "delta-base"})
        if (file.Has(conflicting)) file.FailAt(conflicting, std::string("does not go with ") + key);
    if (stays)
        for (const char* conflicting : {"uninstall", "shared", "register", "destination", "version-rule", "language-rule", "shortcut"})
            if (file.Has(conflicting)) file.FailAt(conflicting, "does not go with stays-in-setup-folder: the file is not installed");
    if (!file.Has("source") && !file.Has("name")) file.FailAt(key, "needs a name (or a source to take it from)");
    if (!file.Has("source") && (file.Bool("version-rule") || file.Bool("language-rule")))
        file.FailAt("version-rule", "needs a source to read the version from");
}

// The entries one [[set.file]] table stands for: one file, or every match of a glob.
std::vector<ProjectEntry> ReadFileEntries(const TableReader& file, const SetDefaults& defaults) {
    CheckBesideSetupKeys(file);
    std::string folder = file.Has("folder") ? DestinationName(file, "folder", file.String("folder")) + "\\" : "";
    if (!file.Has("source") && (file.Bool("copy-from-setup-folder") || file.Bool("stays-in-setup-folder"))) {
        // Nothing to measure at build time: the file is only there when setup runs.
        ProjectEntry entry;
        entry.fields = CommonFileFields(file, false);
        entry.fields.strings[EntryFileName] = DestinationName(file, "name", folder + file.String("name"));
        return {entry};
    }
    std::string source = file.RequiredString("source");
    std::replace(source.begin(), source.end(), '\\', '/');
    bool glob = HasWildcards(source);
    if (glob && file.Has("name")) file.FailAt("name", "a glob's files keep their own names; use folder to place them");
    FileEntryFields common = CommonFileFields(file, glob);
    std::optional<DeltaRequest> delta = ReadDeltaRequest(file, glob, defaults.automaticDelta && !IsBesideSetup(common));

    std::vector<GlobMatch> matches;
    if (glob) {
        matches = ExpandGlob(file.Where().folder, source);
        if (matches.empty()) file.FailAt("source", "no file matches \"" + source + "\"");
    } else {
        std::string path = SourcePath(file.Where(), source);
        std::error_code error;
        if (!std::filesystem::is_regular_file(path, error))
            file.FailAt("source", std::filesystem::is_directory(path, error)
                                      ? path + " is a folder; to take its files use a glob such as \"" + source + "/**\""
                                      : "no file " + path);
        matches.push_back({path, std::filesystem::path(path).filename().string()});
    }
    std::vector<ProjectEntry> entries;
    for (const GlobMatch& match : matches) {
        ProjectEntry entry;
        entry.fields = common;
        entry.sourcePath = match.path;
        std::string name = glob ? match.relative : file.String("name", match.relative);
        entry.fields.strings[EntryFileName] = DestinationName(file, glob ? "source" : "name", folder + name);
        entry.deltaRequest = delta;
        AddSourceDetails(file, entry);
        entries.push_back(std::move(entry));
    }
    return entries;
}

// The set's uninstall program, last in its list. Its own data is a closing
// record header: the setup program writes the uninstall log's first header
// over the file's last 8 bytes, and the program itself comes from
// [setup] uninstaller-program as PrefixData.
ProjectEntry MakeUninstallerEntry(const TableReader& set) {
    ProjectEntry entry;
    entry.fields.entryFlags = UninstallerEntry;
    entry.fields.entryKind = KeptFile;  // the uninstaller removes itself; the log never lists it
    entry.fields.strings[EntryFileName] = DestinationName(set, "uninstaller", set.String("uninstaller"));
    Bytes closing;
    PutU16(closing, FileDataRecord);
    closing.resize(sizeof(RecordHeader), 0);
    entry.inlineContents = closing;
    return entry;
}

ProjectEntry ReadFolderEntry(const TableReader& folder) {
    ProjectEntry entry;
    entry.fields.entryKind = FolderEntry;
    entry.fields.destinationFolder = folder.Choice("destination", {"set", "windows", "system", "fonts"}, SetFolder);
    std::string name = DestinationName(folder, "name", folder.RequiredString("name"));
    // Setup makes the folders of a path up to its last backslash: the
    // backslash at the end makes it create the named folder itself.
    if (name.back() != '\\') name += '\\';
    entry.fields.strings[EntryFileName] = name;
    return entry;
}

// Files and folders in the order the project writes them.
void ReadEntries(const TableReader& set, ProjectSet& result, const SetDefaults& defaults) {
    struct Placed {
        toml::source_position at;
        std::vector<ProjectEntry> entries;
    };
    std::vector<Placed> placed;
    std::vector<const toml::table*> files = set.Tables("file");
    for (size_t i = 0; i < files.size(); i++) {
        TableReader file(set.Where(), *files[i], Indexed(set.Path(), "file", i),
                         {"source", "name", "folder", "destination", "uninstall", "shared", "role", "register",
                          "shortcut", "desktop", "version-rule", "language-rule", "keep-times",
                          "copy-from-setup-folder", "stays-in-setup-folder", "delta", "delta-base"});
        placed.push_back({files[i]->source().begin, ReadFileEntries(file, defaults)});
    }
    std::vector<const toml::table*> folders = set.Tables("folder");
    for (size_t i = 0; i < folders.size(); i++) {
        TableReader folder(set.Where(), *folders[i], Indexed(set.Path(), "folder", i), {"name", "destination"});
        placed.push_back({folders[i]->source().begin, {ReadFolderEntry(folder)}});
    }
    std::stable_sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) {
        return a.at.line != b.at.line ? a.at.line < b.at.line : a.at.column < b.at.column;
    });
    for (Placed& p : placed)
        for (ProjectEntry& e : p.entries) result.entries.push_back(std::move(e));
    if (set.Has("uninstaller")) result.entries.push_back(MakeUninstallerEntry(set));
}

void ReadRegistryEntries(const TableReader& set, ProjectSet& result) {
    std::vector<const toml::table*> tables = set.Tables("registry");
    for (size_t i = 0; i < tables.size(); i++) {
        TableReader reader(set.Where(), *tables[i], Indexed(set.Path(), "registry", i),
                           {"root", "key", "name", "data", "keep-existing"});
        RegistryEntryFields entry;
        entry.root = RegistryRoot(reader);
        entry.key = reader.RequiredString("key");
        entry.name = reader.String("name");
        entry.data = reader.String("data");
        entry.flags = reader.Bool("keep-existing") ? KeepExistingValue : 0;
        result.registryEntries.push_back(entry);
    }
}

void ReadIniEntries(const TableReader& set, ProjectSet& result) {
    std::vector<const toml::table*> tables = set.Tables("ini");
    for (size_t i = 0; i < tables.size(); i++) {
        TableReader reader(set.Where(), *tables[i], Indexed(set.Path(), "ini", i),
                           {"file", "section", "key", "value", "only-if-missing"});
        IniEntryFields entry;
        entry.file = reader.RequiredString("file");
        entry.section = reader.RequiredString("section");
        entry.key = reader.RequiredString("key");
        entry.value = reader.String("value");
        entry.flags = reader.Bool("only-if-missing") ? KeepExistingValue : 0;
        result.iniEntries.push_back(entry);
    }
}

// A pattern is a text or a list of byte values.
Bytes PatchPattern(const TableReader& reader) {
    const toml::node* node = reader.Find("pattern");
    if (node->is_string()) {
        const std::string& text = node->as_string()->get();
        return Bytes(text.begin(), text.end());
    }
    Bytes pattern;
    const toml::array* array = node->as_array();
    if (array != nullptr) {
        for (const toml::node& element : *array) {
            std::optional<int64_t> value = element.value<int64_t>();
            if (!value || *value < 0 || *value > 255) {
                pattern.clear();
                break;
            }
            pattern.push_back(static_cast<uint8_t>(*value));
        }
    }
    if (pattern.empty()) reader.FailAt("pattern", "must be a text or a list of byte values 0 to 255, not empty");
    return pattern;
}

void ReadFilePatches(const TableReader& set, ProjectSet& result) {
    std::vector<const toml::table*> tables = set.Tables("patch");
    for (size_t i = 0; i < tables.size(); i++) {
        TableReader reader(set.Where(), *tables[i], Indexed(set.Path(), "patch", i),
                           {"file", "offset", "pattern", "replacement"});
        FilePatchFields patch;
        patch.file = reader.RequiredString("file");
        patch.replacement = reader.RequiredString("replacement");
        if (reader.Has("offset") == reader.Has("pattern")) reader.FailAt("offset", "give either offset or pattern");
        if (reader.Has("offset")) patch.offset = static_cast<uint32_t>(reader.Integer("offset", 0, 0xFFFFFFFE, 0));
        else patch.pattern = PatchPattern(reader);
        result.filePatches.push_back(patch);
    }
}

ProjectSet ReadSet(const TableReader& set, const SetDefaults& defaults) {
    ProjectSet result;
    InstallSetFields& fields = result.fields;
    fields.displayName = set.String("name", defaults.title);
    fields.tables = SetTexts(fields.displayName, defaults.texts, ReadOwnTexts(set));
    fields.caption = set.String("caption", fields.displayName);
    fields.defaultDestination = set.String("destination");
    if (set.Bool("destination-changeable", true)) fields.setFlags |= DestinationChangeable;
    ReadDestinationStores(set, fields);
    ReadEntries(set, result, defaults);
    ReadRegistryEntries(set, result);
    ReadIniEntries(set, result);
    ReadFilePatches(set, result);
    return result;
}

void ReadSets(const TableReader& root, Project& project, const SetDefaults& defaults) {
    std::vector<const toml::table*> sets = root.Tables("set");
    if (sets.empty()) root.FailAt("set", "a project needs at least one [[set]]");
    if (sets.size() > MaxInstallSets)
        Fail(root.Where(), sets[MaxInstallSets]->source(), "set", "a setup holds at most " + std::to_string(MaxInstallSets) + " sets");
    for (size_t i = 0; i < sets.size(); i++) {
        TableReader set(root.Where(), *sets[i], Indexed("", "set", i),
                        {"name", "caption", "destination", "destination-changeable", "destination-registry",
                         "destination-ini", "texts", "file", "folder", "registry", "ini", "patch", "uninstaller"});
        project.sets.push_back(ReadSet(set, defaults));
    }
}

// ---------------------------------------------------------------------------
// Deltas and the uninstaller, checked once every set is read

// A base must decode on its own: a packed file of its own, not a delta.
bool CanBeDeltaBase(const ProjectEntry& entry) {
    bool explicitDelta = entry.deltaRequest && !entry.deltaRequest->automatic;
    return !entry.sourcePath.empty() && !entry.deltaBase && !explicitDelta &&
           (entry.fields.entryKind == KeptFile || entry.fields.entryKind == RemovedFile) &&
           !(entry.fields.entryFlags & (UninstallerEntry | CopiedFromSetupFolder));
}

EntryPlace ExplicitBase(const Project& project, const DeltaRequest& request, EntryPlace self) {
    if (request.set >= project.sets.size())
        throw ProjectError(request.where + ": set " + std::to_string(request.set) + " does not exist");
    const std::vector<ProjectEntry>& entries = project.sets[request.set].entries;
    for (uint32_t i = 0; i < entries.size(); i++) {
        std::string name = entries[i].fields.strings[EntryFileName];
        if (entries[i].fields.entryKind == FolderEntry) name.pop_back();  // its closing backslash
        if (!SameName(name, request.file)) continue;
        if (request.set == self.set && i == self.index) throw ProjectError(request.where + ": a file cannot be its own base");
        if (!CanBeDeltaBase(entries[i]))
            throw ProjectError(request.where + ": \"" + request.file + "\" of set " + std::to_string(request.set) +
                               " is no packed file of its own (a folder, a file beside the setup, the uninstaller or a delta)");
        return {request.set, i};
    }
    throw ProjectError(request.where + ": set " + std::to_string(request.set) + " has no file \"" + request.file + "\"");
}

// The first file of an earlier set with the same name and folder that can be a base.
std::optional<EntryPlace> AutomaticBase(const Project& project, const ProjectEntry& entry, uint32_t set) {
    for (uint32_t s = 0; s < set; s++) {
        const std::vector<ProjectEntry>& entries = project.sets[s].entries;
        for (uint32_t i = 0; i < entries.size(); i++) {
            const FileEntryFields& other = entries[i].fields;
            if (SameName(other.strings[EntryFileName], entry.fields.strings[EntryFileName]) &&
                other.destinationFolder == entry.fields.destinationFolder && CanBeDeltaBase(entries[i]))
                return EntryPlace{s, i};
        }
    }
    return std::nullopt;
}

// Named bases first; a file named as a base stays whole. Then "auto" files,
// set by set, so a base is never itself a delta.
void ResolveDeltaBases(Project& project) {
    std::set<std::pair<uint32_t, uint32_t>> bases;
    for (uint32_t s = 0; s < project.sets.size(); s++) {
        for (uint32_t i = 0; i < project.sets[s].entries.size(); i++) {
            ProjectEntry& entry = project.sets[s].entries[i];
            if (!entry.deltaRequest || entry.deltaRequest->automatic) continue;
            EntryPlace base = ExplicitBase(project, *entry.deltaRequest, {s, i});
            entry.deltaBase = base;
            bases.insert({base.set, base.index});
        }
    }
    for (uint32_t s = 0; s < project.sets.size(); s++) {
        for (uint32_t i = 0; i < project.sets[s].entries.size(); i++) {
            ProjectEntry& entry = project.sets[s].entries[i];
            if (!entry.deltaRequest || !entry.deltaRequest->automatic || bases.count({s, i}) != 0) continue;
            entry.deltaBase = AutomaticBase(project, entry, s);
            entry.deltaWhenSmaller = true;
        }
    }
}

// Without [setup] uninstaller-program the uninstallers are kelvo's own
// program, which the build adds as PrefixData; each uninstaller's data is
// then that program's texts and the closing header.
void UseBuiltInUninstaller(Project& project, const SetDefaults& defaults) {
    if (!project.prefixData.empty()) return;
    for (ProjectSet& set : project.sets) {
        for (ProjectEntry& entry : set.entries) {
            if (!(entry.fields.entryFlags & UninstallerEntry)) continue;
            entry.inlineContents = UninstallerData(defaults.uninstallTexts, UninstallSettings(set));
            project.needsUninstallProgram = true;
        }
    }
}

void CheckUninstallerProgram(const TableReader& root, const Project& project) {
    if (project.prefixData.empty()) return;
    for (const ProjectSet& set : project.sets)
        for (const ProjectEntry& entry : set.entries)
            if (entry.fields.entryFlags & UninstallerEntry) return;
    const toml::table* table = root.SubTable("setup");
    SetupReader(root, *table).FailAt("uninstaller-program", "no set has an uninstaller (give [[set]] uninstaller = \"NAME.exe\")");
}

}  // namespace

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

void UseUninstallProgram(Project& project, const std::string& programPath) {
    Bytes program;
    try {
        program = ReadWholeFile(programPath);
    } catch (const FileReadError&) {
        // reported below, as an empty program is
    }
    if (program.empty())
        throw ProjectError(project.path + ": the uninstallers need kelvo's uninstall program, and " + programPath +
                           " cannot be read (build kelvo-uninstall.exe, give --uninstaller PATH or [setup] uninstaller-program)");
    project.prefixData = std::move(program);
}

Bytes MakeLogFont(const std::string& faceName, int height, int weight, bool italic) {
    Bytes font;
    PutU32(font, static_cast<uint32_t>(-height));  // negative: the character height, not the cell height
    PutU32(font, 0);                                // width: from the height
    PutU32(font, 0);                                // escapement
    PutU32(font, 0);                                // orientation
    PutU32(font, static_cast<uint32_t>(weight));
    PutU8(font, italic ? 1 : 0);
    PutU8(font, 0);  // underline
    PutU8(font, 0);  // strike-out
    PutU8(font, DefaultCharset);
    PutU8(font, 0);  // output precision, clipping precision, quality, pitch and family: defaults
    PutU8(font, 0);
    PutU8(font, 0);
    PutU8(font, 0);
    Bytes face(MaxFaceNameLength + 1, 0);
    std::copy_n(faceName.begin(), std::min<size_t>(faceName.size(), MaxFaceNameLength), face.begin());
    PutBytes(font, face);
    return font;
}

Project LoadProject(const std::string& path) {
    toml::table document;
    try {
        document = toml::parse_file(path);
    } catch (const toml::parse_error& e) {
        if (e.source().begin.line == 0) throw ProjectError(path + ": " + std::string(e.description()));
        throw ProjectError(path + ":" + std::to_string(e.source().begin.line) + ": " + std::string(e.description()));
    }
    Context context{path, std::filesystem::path(path).parent_path().string()};
    TableReader root(context, document, "", {"setup", "set"});
    Project project;
    project.path = path;
    project.dialogTemplates = DefaultDialogTemplates();
    project.wizardPicture = DefaultWizardPicture();
    SetDefaults defaults;
    ReadSetup(root, project, defaults);
    ReadSets(root, project, defaults);
    ReadSinglePage(root, project);
    ResolveDeltaBases(project);
    CheckUninstallerProgram(root, project);
    UseBuiltInUninstaller(project, defaults);
    return project;
}
