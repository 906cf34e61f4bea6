// The pieces of reading a project description (builder/project.h), shared
// by the files that read its parts: project.cpp ([setup], [[set]] and the
// whole), project_texts.cpp (texts), project_entries.cpp (files and
// folders) and project_links.cpp (what ties entries and sets together:
// delta bases and the uninstallers).
#pragma once
#include <algorithm>
#include <array>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "builder/code_pages.h"
#include "builder/project.h"
#include "builder/source_files.h"
#include "builder/toml_parser.h"

// The project file: named in messages, the folder relative paths start
// from, and the code page and languages of what it writes ([setup] codepage
// and languages, read before anything else).
struct ProjectFile {
    std::string file;
    std::string folder;  // relative sources are taken from here
    const SourceFiles* files = &Disk();  // where every file the project names is read
    uint32_t codePage = DefaultCodePage;
    std::vector<const Language*> languages;  // the first fills the sets' own string tables
    std::string languagesPlace;              // "FILE:LINE: setup.languages", for the built-in texts' faults
};

// "FILE:LINE: KEY", the start of a message about a key.
inline std::string PlaceInProject(const ProjectFile& context, const toml::source_region& where, const std::string& key) {
    return context.file + ":" + std::to_string(where.begin.line) + ": " + key;
}

[[noreturn]] inline void FailInProject(const ProjectFile& context, const toml::source_region& where,
                                       const std::string& key, const std::string& message) {
    throw ProjectError(PlaceInProject(context, where, key) + ": " + message);
}

// `utf8` in code page `codePage`; a character the code page lacks is a
// ProjectError "PLACE: "é" (U+00E9) is not in code page 1250", followed by
// `note` when there is one.
std::string EncodeOrFail(const std::string& place, const std::string& utf8, uint32_t codePage,
                         const std::string& note = "");

// Reads one TOML table, with messages that name the table's key path. Every
// key must be one of `known`, so a misspelt key is an error, not a silent default.
class TableReader {
public:
    // A reader whose keys its caller checks.
    TableReader(const ProjectFile& context, const toml::table& table, std::string path)
        : context(context), table(table), path(std::move(path)) {}
    TableReader(const ProjectFile& context, const toml::table& table, std::string path,
                std::initializer_list<const char*> known)
        : context(context), table(table), path(std::move(path)) {
        for (auto&& entry : table) {
            const toml::key& key = entry.first;
            if (std::none_of(known.begin(), known.end(), [&key](const char* k) { return key.str() == k; }))
                FailInProject(context, key.source(), KeyPath(std::string(key.str())),
                              "unknown key" + KnownList(known));
        }
    }

    std::string KeyPath(const std::string& key) const { return path.empty() ? key : path + "." + key; }
    const ProjectFile& Where() const { return context; }
    const toml::table& Table() const { return table; }
    const std::string& Path() const { return path; }
    const toml::node* Find(const char* key) const { return table.get(key); }
    bool Has(const char* key) const { return Find(key) != nullptr; }

    [[noreturn]] void FailAt(const char* key, const std::string& message) const {
        const toml::node* node = Find(key);
        FailInProject(context, node != nullptr ? node->source() : table.source(), KeyPath(key), message);
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
    // A text or name the setup shows or writes: `key`'s text in the
    // project's code page. `fallback` is taken as it is (already converted).
    // String() is for what names things here: source paths, choices.
    std::string Text(const char* key, const std::string& fallback = "") const {
        if (!Has(key)) return fallback;
        return Encode(key, String(key));
    }
    std::string RequiredText(const char* key) const {
        if (!Has(key)) FailAt(key, "is missing");
        return Text(key);
    }
    // `utf8`, which `key` gives, in the project's code page.
    std::string Encode(const char* key, const std::string& utf8, const std::string& note = "") const {
        const toml::node* node = Find(key);
        return EncodeOrFail(PlaceInProject(context, node != nullptr ? node->source() : table.source(), KeyPath(key)),
                            utf8, context.codePage, note);
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
        if (array == nullptr) FailInProject(context, node.source(), KeyPath(key), "must be a list of texts");
        for (const toml::node& element : *array) {
            if (!element.is_string()) FailInProject(context, element.source(), KeyPath(key), "must be a list of texts");
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

    const ProjectFile& context;
    const toml::table& table;
    std::string path;
};

// key[index], below `path` when it is not empty.
std::string IndexedKey(const std::string& path, const char* key, size_t index);
// A source path, relative to the project's folder unless absolute; '\' is
// taken for '/'.
std::string ProjectPath(const ProjectFile& context, const std::string& relative);
// The contents of the file at `relative`, which key `key` names.
Bytes ReadProjectFile(const TableReader& reader, const char* key, const std::string& relative);
// A .bmp file that key `key` names.
Bytes ReadBitmap(const TableReader& reader, const char* key);
// A name below the destination, as the project writes it: '/' is taken for
// '\', and it may not leave the folder it is installed to. The result is
// still UTF-8.
std::string CheckedName(const TableReader& reader, const char* key, std::string name);
// The same in the project's code page; `note` ends the message when a
// character cannot be written in it.
std::string InstalledName(const TableReader& reader, const char* key, std::string name, const std::string& note = "");

// The [setup] table's reader.
TableReader SetupReader(const TableReader& root, const toml::table& table);

// ---------------------------------------------------------------------------
// Texts (project_texts.cpp)

typedef std::array<std::vector<std::string>, StringTableCount> TextTables;

// One text a project or the built-in texts give: string `number` of table
// `table`, in UTF-8, and the place that gives it ("FILE:LINE: KEY"; empty
// for a built-in text).
struct GivenText {
    uint32_t table;
    uint32_t number;
    std::string text;
    std::string place;
};
typedef std::vector<GivenText> GivenTexts;

// The `texts` table of [setup] or a [[set]]: its own strings, which are the
// first language's, and those of each [... .texts.CODE] table by code.
struct OwnTexts {
    GivenTexts first;
    std::map<std::string, GivenTexts> byLanguage;
};
OwnTexts ReadOwnTexts(const TableReader& owner);

// A set's name in UTF-8, for "{title}", and the place that gives it.
struct SetTitle {
    std::string text;
    std::string place;
};

// A set's tables in `language`, written in `codePage`: kelvo's English
// texts, the language's own built-in texts, then for the first language
// [setup.texts], then [setup.texts.CODE], for the first language [set.texts],
// then [set.texts.CODE]. With `rollback` the built-in messages are those that
// say a stopped installation is taken back. Throws ProjectError for a text
// the code page cannot hold.
TextTables SetTexts(const ProjectFile& context, const Language& language, uint32_t codePage, const SetTitle& title,
                    const OwnTexts& setupTexts, const OwnTexts& setTexts, bool rollback);

// The texts of kelvo's uninstall program in one language, by name, in its code page.
struct UninstallLanguageTexts {
    uint16_t language;
    uint32_t codePage;
    std::map<std::string, std::string> texts;
};
// The same before they are converted: UTF-8, each with the place to name
// and the note to add when its code page cannot hold it.
struct UninstallTextsSource {
    uint16_t language;
    uint32_t codePage;
    struct Text {
        std::string text, place, note;
    };
    std::map<std::string, Text> texts;
};
// Those of every language of the project, the first in the project's code
// page and each further one in its own: kelvo's English texts, the
// language's built-in ones, then for the first language
// [setup.uninstall-texts], then [setup.uninstall-texts.CODE].
std::vector<UninstallTextsSource> ReadUninstallTexts(const TableReader& setup);
// Converts them, only when a set has an uninstaller that carries them;
// throws ProjectError for a text its code page cannot hold.
std::vector<UninstallLanguageTexts> EncodeUninstallTexts(const std::vector<UninstallTextsSource>& sources);

// What [setup] gives every set: the title as its name, and texts.
struct SetDefaults {
    std::string title;  // in the project's code page
    SetTitle titleText;
    OwnTexts texts;
    bool automaticDelta = false;  // [setup] delta = "auto": every file's default
    bool rollback = true;         // [setup] rollback: the built-in texts say so
    std::vector<UninstallTextsSource> uninstallTexts;  // kelvo's uninstall program's
    RegistrationFields registration;                     // [setup.registration]
};

// ---------------------------------------------------------------------------
// Files and folders (project_entries.cpp)

// A set's files and folders in the order the project writes them, and its
// uninstaller last.
void ReadEntries(const TableReader& set, ProjectSet& result, const SetDefaults& defaults);

// ---------------------------------------------------------------------------
// Links between entries and sets, once every set is read (project_links.cpp)

// Named bases first; a file named as a base stays whole. Then "auto" files,
// set by set, so a base is never itself a delta.
void ResolveDeltaBases(Project& project);
// Without [setup] uninstaller-program the uninstallers are kelvo's own
// program, which the build adds as PrefixData; each uninstaller's data is
// then that program's texts and the closing header.
void UseBuiltInUninstaller(Project& project, const SetDefaults& defaults);
// An uninstaller-program needs a set with an uninstaller.
void CheckUninstallerProgram(const TableReader& root, const Project& project);
