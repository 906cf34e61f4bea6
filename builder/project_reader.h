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

#include <toml++/toml.h>

#include "builder/project.h"

// The project file: named in messages, and the folder relative paths start from.
struct ProjectFile {
    std::string file;
    std::string folder;  // relative sources are taken from here
};

[[noreturn]] inline void FailInProject(const ProjectFile& context, const toml::source_region& where,
                                       const std::string& key, const std::string& message) {
    throw ProjectError(context.file + ":" + std::to_string(where.begin.line) + ": " + key + ": " + message);
}

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
// A name below the destination: '/' is taken for '\', and it may not leave
// the folder it is installed to.
std::string InstalledName(const TableReader& reader, const char* key, std::string name);

// The [setup] table's reader.
TableReader SetupReader(const TableReader& root, const toml::table& table);

// ---------------------------------------------------------------------------
// Texts (project_texts.cpp)

typedef std::array<std::vector<std::string>, StringTableCount> TextTables;

// One text a project or the built-in texts give: string `number` of table `table`.
struct GivenText {
    uint32_t table;
    uint32_t number;
    std::string text;
};
typedef std::vector<GivenText> GivenTexts;

// The `texts` table of [setup] or a [[set]].
GivenTexts ReadOwnTexts(const TableReader& owner);
// A set's tables: the built-in texts, then each string [setup.texts] gives,
// then each string the set gives.
TextTables SetTexts(const std::string& name, const GivenTexts& setupTexts, const GivenTexts& setTexts);
// kelvo's English texts for its uninstall program, with those that
// [setup.uninstall-texts] gives in their place.
std::map<std::string, std::string> ReadUninstallTexts(const TableReader& setup);

// What [setup] gives every set: the title as its name, and texts.
struct SetDefaults {
    std::string title;
    GivenTexts texts;
    bool automaticDelta = false;  // [setup] delta = "auto": every file's default
    std::map<std::string, std::string> uninstallTexts;  // kelvo's uninstall program's, by name
    RegistrationFields registration;                    // [setup.registration]
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
