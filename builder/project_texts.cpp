// Texts of a project: [setup.texts] and [set.texts] over kelvo's built-in
// texts, and the texts of kelvo's uninstall program, in each language of the
// project and in the code page each is written in.
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

std::string TextTableName(uint32_t table) {
    for (auto&& [name, number] : TextTableNames())
        if (number == table) return name;
    return std::to_string(table);
}

const uint32_t MaxTextNumber = 999;
// What "{title}" in a built-in text becomes for a set without a name.
const char* const UnnamedTitle = "the program";
// The table of a language file (resources/languages) with the uninstall program's texts.
const char* const UninstallTable = "uninstall";
// Its table of the messages that say a stopped installation is taken back.
const char* const RollbackTable = "rollback";

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
                  "messages, buttons, selection or a number 0 to 10" +
                      std::string(texts.Where().languages.empty() ? "" : ", or a language of [setup] languages"));
}

// One table's texts: a list gives its strings from 0 on, a table of numbers
// ({ 31 = "..." }) only the strings it names.
void ReadTextTable(const TableReader& texts, const std::string& name, const toml::node& node, uint32_t table,
                   GivenTexts& given) {
    const ProjectFile& context = texts.Where();
    const toml::table* numbered = node.as_table();
    if (numbered == nullptr) {
        const toml::array* list = node.as_array();
        if (list == nullptr) FailInProject(context, node.source(), texts.KeyPath(name), "must be a list of texts");
        if (list->size() > MaxTextNumber + 1)
            FailInProject(context, node.source(), texts.KeyPath(name),
                          "holds more than " + std::to_string(MaxTextNumber + 1) + " texts");
        for (size_t n = 0; n < list->size(); n++) {
            const toml::node& element = (*list)[n];
            if (!element.is_string()) FailInProject(context, element.source(), texts.KeyPath(name), "must be a list of texts");
            given.push_back({table, static_cast<uint32_t>(n), element.as_string()->get(),
                             PlaceInProject(context, element.source(), texts.KeyPath(name + "[" + std::to_string(n) + "]"))});
        }
        return;
    }
    for (auto&& [key, text] : *numbered) {
        std::string number(key.str());
        std::string path = texts.KeyPath(name + "." + number);
        if (!IsDecimal(number) || std::stoul(number) > MaxTextNumber)
            FailInProject(context, key.source(), path, "a text's number must be 0 to " + std::to_string(MaxTextNumber));
        if (!text.is_string()) FailInProject(context, text.source(), path, "must be a text");
        given.push_back({table, static_cast<uint32_t>(std::stoul(number)), text.as_string()->get(),
                         PlaceInProject(context, text.source(), path)});
    }
}

// A language code of the project among a table's keys: the key of its
// texts table ([setup.texts.CODE]).
bool IsProjectLanguage(const ProjectFile& context, const std::string& key) {
    return std::any_of(context.languages.begin(), context.languages.end(),
                       [&key](const Language* language) { return key == language->code; });
}

std::string LanguageList(const ProjectFile& context) {
    std::string list;
    for (const Language* language : context.languages) list += (list.empty() ? "" : ", ") + std::string(language->code);
    return list;
}

// A texts table: [setup.texts], [set.texts], one of their language tables
// or the built-in texts. Each key names a text table; where `languages` is
// given, a key that is a language code of the project holds that
// language's texts table.
GivenTexts ReadTexts(const TableReader& texts, std::map<std::string, GivenTexts>* languages = nullptr) {
    GivenTexts given;
    std::set<uint32_t> seen;
    for (auto&& [key, node] : texts.Table()) {
        std::string name(key.str());
        if (languages != nullptr && (IsProjectLanguage(texts.Where(), name) || FindLanguage(name) != nullptr)) {
            if (!IsProjectLanguage(texts.Where(), name))
                FailInProject(texts.Where(), key.source(), texts.KeyPath(name),
                              "\"" + name + "\" is not a language of the project ([setup] languages: " +
                                  LanguageList(texts.Where()) + ")");
            if (!node.is_table())
                FailInProject(texts.Where(), node.source(), texts.KeyPath(name), "must be a table of texts, such as [" +
                                                                                   texts.KeyPath(name) + "]");
            (*languages)[name] = ReadTexts(TableReader(texts.Where(), *node.as_table(), texts.KeyPath(name)));
            continue;
        }
        uint32_t table = TextTableNumber(texts, key);
        if (!seen.insert(table).second)
            FailInProject(texts.Where(), key.source(), texts.KeyPath(name), "table " + std::to_string(table) + " is given twice");
        ReadTextTable(texts, name, node, table, given);
    }
    return given;
}

// kelvo's own texts in one language: the setup's and the uninstall program's.
struct BuiltInLanguage {
    GivenTexts texts;
    GivenTexts rollback;  // messages in place of those of `texts` when the setup rolls back
    std::map<std::string, std::string> uninstall;
};

BuiltInLanguage ParseLanguageFile(const std::string& code, const std::string& source) {
    ProjectFile context;
    context.file = "built-in " + code + ".toml";
    toml::table document;
    try {
        document = toml::parse(source, context.file);
    } catch (const toml::parse_error& e) {
        throw ProjectError(context.file + ":" + std::to_string(e.source().begin.line) + ": " + std::string(e.description()));
    }
    BuiltInLanguage language;
    if (const toml::node* uninstall = document.get(UninstallTable)) {
        const std::vector<std::string>& names = UninstallTextNames();
        if (!uninstall->is_table()) FailInProject(context, uninstall->source(), UninstallTable, "must be a table");
        for (auto&& [key, text] : *uninstall->as_table()) {
            std::string name(key.str());
            if (std::find(names.begin(), names.end(), name) == names.end() || !text.is_string())
                FailInProject(context, key.source(), std::string(UninstallTable) + "." + name,
                              "not a text of the uninstall program");
            language.uninstall[name] = text.as_string()->get();
        }
        document.erase(UninstallTable);
    }
    if (const toml::node* rollback = document.get(RollbackTable)) {
        ReadTextTable(TableReader(context, document, ""), RollbackTable, *rollback, MessageTexts, language.rollback);
        document.erase(RollbackTable);
    }
    language.texts = ReadTexts(TableReader(context, document, ""));
    for (GivenText& text : language.texts) text.place.clear();  // built in: named by the language
    for (GivenText& text : language.rollback) text.place.clear();
    return language;
}

// kelvo's texts in `code`: English, then those of the language's file over them.
const BuiltInLanguage& BuiltInTexts(const std::string& code) {
    static std::map<std::string, BuiltInLanguage> parsed;
    auto found = parsed.find(code);
    if (found != parsed.end()) return found->second;
    BuiltInLanguage language = ParseLanguageFile("en", DefaultTextsSource());
    language.uninstall = DefaultUninstallTexts();
    if (code != "en") {
        std::optional<std::string> source = LanguageTextsSource(code);
        if (!source) throw ProjectError("kelvo has no built-in texts in \"" + code + "\"");
        BuiltInLanguage own = ParseLanguageFile(code, *source);
        language.texts.insert(language.texts.end(), own.texts.begin(), own.texts.end());
        language.rollback.insert(language.rollback.end(), own.rollback.begin(), own.rollback.end());
        for (auto&& [name, text] : own.uninstall) language.uninstall[name] = text;
    }
    return parsed.emplace(code, std::move(language)).first->second;
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

// A multi-line edit box breaks lines only at CR LF: a lone LF becomes CR LF.
std::string WithCrLf(const std::string& text) {
    std::string result;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) result += '\r';
        result += text[i];
    }
    return result;
}

// The place to blame when a built-in text of `code` cannot be written in
// the code page the project asks for.
std::string BuiltInPlace(const ProjectFile& context) {
    return context.languagesPlace.empty() ? context.file + ": setup.codepage" : context.languagesPlace;
}

// One string of a set's tables while they are put together: UTF-8, and
// where it comes from.
struct PendingText {
    std::string text;
    std::string place;  // empty: a built-in text
    bool titled = false;  // a built-in text that holds the set's name
};
typedef std::array<std::vector<PendingText>, StringTableCount> PendingTables;

void Put(PendingTables& tables, uint32_t table, uint32_t number, PendingText text) {
    std::vector<PendingText>& strings = tables[table];
    if (strings.size() <= number) strings.resize(number + 1);
    strings[number] = std::move(text);
}

void PutGiven(PendingTables& tables, const GivenTexts& texts) {
    for (const GivenText& given : texts) Put(tables, given.table, given.number, {given.text, given.place});
}

const GivenTexts* LanguageTexts(const OwnTexts& own, const std::string& code) {
    auto found = own.byLanguage.find(code);
    return found == own.byLanguage.end() ? nullptr : &found->second;
}

}  // namespace

OwnTexts ReadOwnTexts(const TableReader& owner) {
    OwnTexts texts;
    const toml::table* table = owner.SubTable("texts");
    if (table == nullptr) return texts;
    texts.first = ReadTexts(TableReader(owner.Where(), *table, owner.KeyPath("texts")), &texts.byLanguage);
    return texts;
}

TextTables SetTexts(const ProjectFile& context, const Language& language, uint32_t codePage, const SetTitle& title,
                    const OwnTexts& setupTexts, const OwnTexts& setTexts, bool rollback) {
    bool first = context.languages.empty() || context.languages.front() == &language;
    std::string name = title.text.empty() ? UnnamedTitle : title.text;
    PendingTables pending;
    const BuiltInLanguage& builtIn = BuiltInTexts(language.code);
    for (const GivenTexts* texts : {&builtIn.texts, rollback ? &builtIn.rollback : nullptr}) {
        if (texts == nullptr) continue;
        for (const GivenText& given : *texts) {
            bool titled = given.text.find("{title}") != std::string::npos;
            Put(pending, given.table, given.number, {WithTitle(given.text, name), "", titled});
        }
    }
    if (first) PutGiven(pending, setupTexts.first);
    if (const GivenTexts* texts = LanguageTexts(setupTexts, language.code)) PutGiven(pending, *texts);
    if (first) PutGiven(pending, setTexts.first);
    if (const GivenTexts* texts = LanguageTexts(setTexts, language.code)) PutGiven(pending, *texts);
    std::vector<PendingText>& information = pending[InformationTexts];
    if (information.size() > InformationText) information[InformationText].text = WithCrLf(information[InformationText].text);

    TextTables tables;
    for (uint32_t t = 0; t < StringTableCount; t++) {
        for (size_t n = 0; n < pending[t].size(); n++) {
            const PendingText& text = pending[t][n];
            EncodeFault fault;
            std::optional<std::string> encoded = EncodeText(text.text, codePage, &fault);
            if (!encoded && !text.place.empty()) EncodeOrFail(text.place, text.text, codePage);
            if (!encoded && text.titled && !EncodeText(name, codePage, &fault))
                EncodeOrFail(title.place, name, codePage, std::string("(the set's name, in the ") + language.code + " texts)");
            if (!encoded)
                EncodeOrFail(BuiltInPlace(context), text.text, codePage,
                             std::string("(kelvo's ") + language.code + " text " + TextTableName(t) + " " +
                                 std::to_string(n) + "; give it in [setup.texts." + language.code + "])");
            tables[t].push_back(*encoded);
        }
    }
    return tables;
}

std::vector<UninstallTextsSource> ReadUninstallTexts(const TableReader& setup) {
    const ProjectFile& context = setup.Where();
    const toml::table* table = setup.SubTable("uninstall-texts");
    if (table != nullptr && setup.Has("uninstaller-program"))
        setup.FailAt("uninstall-texts", "does not go with uninstaller-program (they are kelvo's own uninstall program's)");
    const std::vector<std::string>& names = UninstallTextNames();
    // What the project gives: the table's own texts (the first language's)
    // and its language tables, each text with its place.
    std::map<std::string, std::map<std::string, std::pair<std::string, std::string>>> given;
    auto readTable = [&](const TableReader& texts, const std::string& code, bool languagesAllowed) {
        for (auto&& [key, node] : texts.Table()) {
            std::string name(key.str());
            if (languagesAllowed && (IsProjectLanguage(context, name) || FindLanguage(name) != nullptr)) continue;
            if (std::find(names.begin(), names.end(), name) == names.end()) {
                std::string known;
                for (const std::string& n : names) known += (known.empty() ? "" : ", ") + n;
                FailInProject(context, key.source(), texts.Path(), "has no text \"" + name + "\" (known: " + known +
                                                                     (languagesAllowed ? "; or a language of [setup] languages)" : ")"));
            }
            if (!node.is_string()) FailInProject(context, node.source(), texts.Path(), "\"" + name + "\" must be a text");
            given[code][name] = {node.as_string()->get(), PlaceInProject(context, node.source(), texts.KeyPath(name))};
        }
    };
    if (table != nullptr) {
        TableReader texts(context, *table, setup.KeyPath("uninstall-texts"));
        readTable(texts, "", true);
        for (auto&& [key, node] : *table) {
            std::string code(key.str());
            if (!IsProjectLanguage(context, code) && FindLanguage(code) == nullptr) continue;
            if (!IsProjectLanguage(context, code))
                FailInProject(context, key.source(), texts.KeyPath(code),
                              "\"" + code + "\" is not a language of the project ([setup] languages: " + LanguageList(context) + ")");
            if (!node.is_table()) FailInProject(context, node.source(), texts.KeyPath(code), "must be a table of texts");
            readTable(TableReader(context, *node.as_table(), texts.KeyPath(code)), code, false);
        }
    }

    std::vector<UninstallTextsSource> result;
    for (size_t l = 0; l < context.languages.size(); l++) {
        const Language& language = *context.languages[l];
        uint32_t codePage = l == 0 ? context.codePage : language.codePage;
        std::map<std::string, std::pair<std::string, std::string>> texts;
        for (auto&& [name, text] : BuiltInTexts(language.code).uninstall) texts[name] = {text, ""};
        if (l == 0)
            for (auto&& [name, text] : given[""]) texts[name] = text;
        for (auto&& [name, text] : given[language.code]) texts[name] = text;
        UninstallTextsSource source{language.id, codePage, {}};
        for (auto&& [name, text] : texts) {
            std::string place = text.second.empty() ? BuiltInPlace(context) : text.second;
            std::string note = text.second.empty() ? std::string("(kelvo's ") + language.code + " uninstall text " + name +
                                                         "; give it in [setup.uninstall-texts." + language.code + "])"
                                                   : "";
            source.texts[name] = {text.first, place, note};
        }
        result.push_back(std::move(source));
    }
    return result;
}

std::vector<UninstallLanguageTexts> EncodeUninstallTexts(const std::vector<UninstallTextsSource>& sources) {
    std::vector<UninstallLanguageTexts> encoded;
    for (const UninstallTextsSource& source : sources) {
        UninstallLanguageTexts language{source.language, source.codePage, {}};
        for (auto&& [name, text] : source.texts)
            language.texts[name] = EncodeOrFail(text.place, text.text, source.codePage, text.note);
        encoded.push_back(std::move(language));
    }
    return encoded;
}
