// Texts of a project: [setup.texts] and [set.texts] over kelvo's built-in
// texts, and the texts of kelvo's uninstall program.
#include <algorithm>
#include <set>

#include "archive/texts.h"
#include "builder/default_resources.h"
#include "builder/project_reader.h"
#include "builder/uninstaller_data.h"

namespace {

const std::map<std::string, uint32_t>& TextTableNames() {
    static const std::map<std::string, uint32_t> names = {
        {"welcome", WelcomeTexts},       {"information", InformationTexts}, {"destination", DestinationTexts},
        {"confirmation", ConfirmationTexts}, {"progress", ProgressTexts},   {"finish", FinishTexts},
        {"messages", MessageTexts},      {"buttons", ButtonTexts},          {"selection", SetSelectionTexts}};
    return names;
}

const uint32_t MaxTextNumber = 999;
// What "{title}" in a built-in text becomes for a set without a name.
const char* const UnnamedTitle = "the program";

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
    FailInProject(texts.Where(), key.source(), texts.KeyPath(name),
                  "not a text table: use welcome, information, destination, confirmation, progress, finish, "
                  "messages, buttons, selection or a number 0 to 10");
}

// One table's texts: a list gives its strings from 0 on, a table of numbers
// ({ 31 = "..." }) only the strings it names.
void ReadTextTable(const TableReader& texts, const std::string& name, const toml::node& node, uint32_t table,
                   GivenTexts& given) {
    const toml::table* numbered = node.as_table();
    if (numbered == nullptr) {
        std::vector<std::string> list = texts.Strings(node, name);
        if (list.size() > MaxTextNumber + 1)
            FailInProject(texts.Where(), node.source(), texts.KeyPath(name),
                          "holds more than " + std::to_string(MaxTextNumber + 1) + " texts");
        for (size_t n = 0; n < list.size(); n++) given.push_back({table, static_cast<uint32_t>(n), list[n]});
        return;
    }
    for (auto&& [key, text] : *numbered) {
        std::string number(key.str());
        std::string path = texts.KeyPath(name + "." + number);
        if (!IsDecimal(number) || std::stoul(number) > MaxTextNumber)
            FailInProject(texts.Where(), key.source(), path, "a text's number must be 0 to " + std::to_string(MaxTextNumber));
        if (!text.is_string()) FailInProject(texts.Where(), text.source(), path, "must be a text");
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
            FailInProject(texts.Where(), key.source(), texts.KeyPath(std::string(key.str())),
                          "table " + std::to_string(table) + " is given twice");
        ReadTextTable(texts, std::string(key.str()), node, table, given);
    }
    return given;
}

const GivenTexts& BuiltInTexts() {
    static const GivenTexts texts = [] {
        ProjectFile context{"built-in texts.toml", ""};
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

}  // namespace

GivenTexts ReadOwnTexts(const TableReader& owner) {
    const toml::table* table = owner.SubTable("texts");
    if (table == nullptr) return {};
    return ReadTexts(TableReader(owner.Where(), *table, owner.KeyPath("texts")));
}

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
