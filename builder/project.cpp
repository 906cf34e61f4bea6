// Reading a project: [setup], each [[set]] with its registry values, INI
// values and file patches, and the whole. The texts, the entries and the
// links between sets are read in project_texts.cpp, project_entries.cpp and
// project_links.cpp.
#include "builder/project.h"

#include <algorithm>
#include <filesystem>
#include <map>

#include "archive/check_value.h"
#include "archive/texts.h"
#include "builder/content_pool.h"
#include "builder/default_resources.h"
#include "builder/deflate_encoder.h"
#include "builder/dialog_resources.h"
#include "builder/host_system.h"
#include "builder/lzma_encoder.h"
#include "builder/pe_version.h"
#include "builder/project_reader.h"
#include "builder/source_glob.h"
#include "builder/toml_parser.h"
#include "builder/uninstaller_data.h"
#include "builder/whole_file.h"

namespace {

const uint32_t MaxFaceNameLength = 31;  // LOGFONTA's face name holds 32 bytes with the NUL
const uint32_t NormalWeight = 400, BoldWeight = 700;
const int DefaultFontHeight = 36;

// "#RRGGBB" as a COLORREF (0x00BBGGRR).
uint32_t Colour(const TableReader& reader, const char* key, uint32_t fallback) {
    if (!reader.Has(key)) return fallback;
    std::string text = reader.String(key);
    bool ok = text.size() == 7 && text[0] == '#' && text.find_first_not_of("0123456789abcdefABCDEF", 1) == std::string::npos;
    if (!ok) reader.FailAt(key, "must be a colour written \"#RRGGBB\", not \"" + text + "\"");
    uint32_t rgb = static_cast<uint32_t>(std::stoul(text.substr(1), nullptr, 16));
    return ((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16);
}

// ---------------------------------------------------------------------------
// [setup]

void ReadBackground(const TableReader& setup, Project& project, const std::string& title) {
    const toml::table* table = setup.SubTable("background");
    if (table == nullptr) return;
    TableReader reader(setup.Where(), *table, setup.KeyPath("background"),
                       {"picture", "title", "font", "size", "bold", "weight", "italic", "shadow-colour", "text-colour"});
    project.setupFlags |= FullScreenBackground;
    if (reader.Has("picture")) project.backgroundPicture = ReadBitmap(reader, "picture");
    project.backgroundTitle = reader.Text("title", title);
    std::string font = reader.Text("font", "Arial");
    if (font.empty() || font.size() > MaxFaceNameLength)
        reader.FailAt("font", "a font name takes 1 to " + std::to_string(MaxFaceNameLength) + " bytes in code page " +
                                  std::to_string(setup.Where().codePage));
    if (reader.Has("bold") && reader.Has("weight")) reader.FailAt("weight", "give either bold or weight, not both");
    int64_t weight = reader.Integer("weight", 1, 1000, reader.Bool("bold") ? BoldWeight : NormalWeight);
    int height = static_cast<int>(reader.Integer("size", 1, 1000, DefaultFontHeight));
    Bytes logFont = MakeLogFont(font, height, static_cast<int>(weight), reader.Bool("italic"),
                                FindCodePage(setup.Where().codePage)->charSet);
    project.backgroundStyle =
        EncodeBackgroundStyle(Colour(reader, "shadow-colour", 0x000000), Colour(reader, "text-colour", 0xFFFFFF), logFont);
}

std::vector<Bytes> ReadTemplates(const TableReader& setup) {
    if (setup.String("templates").empty()) setup.FailAt("templates", "names no file; leave it out for the built-in templates");
    std::string path = ProjectPath(setup.Where(), setup.String("templates"));
    try {
        return DialogTemplatesFromResources(ParseResourceFile(setup.Where().files->CompileResourceScript(path)));
    } catch (const std::runtime_error& e) {
        setup.FailAt("templates", e.what());
    }
}

// [sign]: the certificate that signs the setup and its uninstallers. Paths
// are the project's; a password is never written in the project.
void ReadSigning(const TableReader& root, Project& project) {
    const toml::table* table = root.SubTable("sign");
    if (table == nullptr) return;
    TableReader sign(root.Where(), *table, "sign",
                     {"certificate", "key", "password-file", "password-env", "description", "url", "timestamp-url",
                      "password"});
    if (sign.Has("password"))
        sign.FailAt("password", "is never written in the project: give password-file or password-env");
    if (sign.Has("password-file") && sign.Has("password-env"))
        sign.FailAt("password-env", "the password comes from password-file or password-env, not both");
    SigningOptions& options = project.signing;
    auto path = [&](const char* key) {
        if (!sign.Has(key)) return std::string();
        if (sign.String(key).empty()) sign.FailAt(key, "names no file");
        return ProjectPath(root.Where(), sign.String(key));
    };
    options.certificate = sign.Has("certificate") ? path("certificate") : "";
    if (options.certificate.empty()) sign.FailAt("certificate", "is missing: a PKCS#12 file, or a PEM certificate with key");
    options.key = path("key");
    options.passwordFile = path("password-file");
    options.passwordEnv = sign.String("password-env");
    options.description = sign.String("description");
    options.url = sign.String("url");
    options.timestampUrl = sign.String("timestamp-url");
}

}  // namespace

TableReader SetupReader(const TableReader& root, const toml::table& table) {
    return TableReader(root.Where(), table, "setup",
                       {"title", "wizard-picture", "templates", "remove-earlier-installations", "single-page",
                        "background", "texts", "uninstaller-program", "delta", "uninstall-texts", "registration",
                        "privileges", "pace", "rollback", "codepage", "languages", "compression", "solid",
                        "compression-level"});
}

namespace {

// [setup.registration] or [set.registration] over `base`.
RegistrationFields ReadRegistration(const TableReader& owner, const RegistrationFields& base) {
    RegistrationFields fields = base;
    const toml::table* table = owner.SubTable("registration");
    if (table == nullptr) return fields;
    TableReader reader(owner.Where(), *table, owner.KeyPath("registration"),
                       {"version", "publisher", "icon", "about-url", "help-url", "no-modify", "no-repair"});
    fields.version = reader.Text("version", fields.version);
    fields.publisher = reader.Text("publisher", fields.publisher);
    fields.icon = reader.Text("icon", fields.icon);
    fields.aboutUrl = reader.Text("about-url", fields.aboutUrl);
    fields.helpUrl = reader.Text("help-url", fields.helpUrl);
    auto flag = [&](const char* key, uint32_t bit) {
        if (reader.Bool(key, (fields.flags & bit) != 0))
            fields.flags |= bit;
        else
            fields.flags &= ~bit;
    };
    flag("no-modify", RegistrationNoModify);
    flag("no-repair", RegistrationNoRepair);
    return fields;
}

// [setup] compression, solid and compression-level.
void ReadPacking(const TableReader& setup, Packing& packing) {
    packing.codec = setup.Choice("compression", {"lzma", "deflate"}, 0) == 0 ? Codec::Lzma : Codec::Deflate;
    bool lzma = packing.codec == Codec::Lzma;
    packing.solid = setup.Bool("solid", lzma);
    if (packing.solid && !lzma) setup.FailAt("solid", "needs compression = \"lzma\"");
    if (setup.Has("compression-level"))
        packing.level = static_cast<int>(lzma ? setup.Integer("compression-level", MinLzmaLevel, MaxLzmaLevel, -1)
                                              : setup.Integer("compression-level", 0, MaxDeflateLevel, -1));
}

void ReadSetup(const TableReader& root, Project& project, SetDefaults& defaults) {
    const toml::table* table = root.SubTable("setup");
    if (table == nullptr) {
        toml::table empty;
        defaults.uninstallTexts = ReadUninstallTexts(SetupReader(root, empty));
        return;
    }
    TableReader setup = SetupReader(root, *table);
    defaults.title = setup.Text("title");
    if (setup.Has("title"))
        defaults.titleText = {setup.String("title"), PlaceInProject(root.Where(), setup.Find("title")->source(), "setup.title")};
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
    project.userPrivileges = setup.Choice("privileges", {"admin", "user"}, 0) == 1;
    if (setup.Choice("pace", {"batch", "classic"}, 0) == 1) project.batchMilliseconds = 0;
    project.rollback = defaults.rollback = setup.Bool("rollback", true);
    ReadPacking(setup, project.packing);
    defaults.uninstallTexts = ReadUninstallTexts(setup);
    defaults.registration = ReadRegistration(setup, RegistrationFields());
    ReadBackground(setup, project, defaults.title);
}

// [setup] languages and codepage, which every text read later depends on.
void ReadCodePage(const TableReader& root, ProjectFile& context) {
    context.languages = {FindLanguage("en")};
    const toml::table* table = root.SubTable("setup");
    if (table == nullptr) return;
    TableReader setup = SetupReader(root, *table);
    if (const toml::node* node = setup.Find("languages")) {
        std::vector<std::string> codes = setup.Strings(*node, "languages");
        if (codes.empty()) setup.FailAt("languages", "must name at least one language");
        std::vector<std::string> known = {"en"};
        for (const std::string& code : LanguageFileCodes())
            if (FindLanguage(code) != nullptr) known.push_back(code);
        context.languages.clear();
        for (const std::string& code : codes) {
            const Language* language = FindLanguage(code);
            if (language == nullptr || std::find(known.begin(), known.end(), code) == known.end()) {
                std::string list;
                for (const std::string& k : known) list += (list.empty() ? "" : ", ") + k;
                setup.FailAt("languages", "kelvo has no texts in \"" + code + "\" (it has " + list + ")");
            }
            if (std::find(context.languages.begin(), context.languages.end(), language) != context.languages.end())
                setup.FailAt("languages", "names \"" + code + "\" twice");
            context.languages.push_back(language);
        }
        context.languagesPlace = PlaceInProject(context, node->source(), "setup.languages");
    }
    context.codePage = context.languages.front()->codePage;
    if (setup.Has("codepage")) {
        const toml::node* node = setup.Find("codepage");
        if (!node->is_integer() || FindCodePage(static_cast<uint32_t>(node->as_integer()->get())) == nullptr)
            setup.FailAt("codepage", "must be one of the Windows code pages " + AllowedCodePageList());
        context.codePage = static_cast<uint32_t>(node->as_integer()->get());
        if (context.languagesPlace.empty()) context.languagesPlace = PlaceInProject(context, node->source(), "setup.codepage");
    }
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
        fields.registryKey = reader.RequiredText("key");
        fields.registryValue = reader.RequiredText("value");
        fields.setFlags |= StoreDestinationInRegistry;
    }
    if (const toml::table* table = set.SubTable("destination-ini")) {
        TableReader reader(set.Where(), *table, set.KeyPath("destination-ini"), {"file", "section", "key"});
        fields.iniFile = reader.RequiredText("file");
        fields.iniSection = reader.RequiredText("section");
        fields.iniKey = reader.RequiredText("key");
        fields.setFlags |= StoreDestinationInIni;
    }
}

void ReadRegistryEntries(const TableReader& set, ProjectSet& result) {
    std::vector<const toml::table*> tables = set.Tables("registry");
    for (size_t i = 0; i < tables.size(); i++) {
        TableReader reader(set.Where(), *tables[i], IndexedKey(set.Path(), "registry", i),
                           {"root", "key", "name", "data", "keep-existing"});
        RegistryEntryFields entry;
        entry.root = RegistryRoot(reader);
        entry.key = reader.RequiredText("key");
        entry.name = reader.Text("name");
        entry.data = reader.Text("data");
        entry.flags = reader.Bool("keep-existing") ? KeepExistingValue : 0;
        result.registryEntries.push_back(entry);
    }
}

void ReadIniEntries(const TableReader& set, ProjectSet& result) {
    std::vector<const toml::table*> tables = set.Tables("ini");
    for (size_t i = 0; i < tables.size(); i++) {
        TableReader reader(set.Where(), *tables[i], IndexedKey(set.Path(), "ini", i),
                           {"file", "section", "key", "value", "only-if-missing"});
        IniEntryFields entry;
        entry.file = reader.RequiredText("file");
        entry.section = reader.RequiredText("section");
        entry.key = reader.RequiredText("key");
        entry.value = reader.Text("value");
        entry.flags = reader.Bool("only-if-missing") ? KeepExistingValue : 0;
        result.iniEntries.push_back(entry);
    }
}

// A pattern is a text (in the project's code page, as the file holds it)
// or a list of byte values.
Bytes PatchPattern(const TableReader& reader) {
    const toml::node* node = reader.Find("pattern");
    if (node->is_string()) {
        std::string text = reader.Text("pattern");
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
        TableReader reader(set.Where(), *tables[i], IndexedKey(set.Path(), "patch", i),
                           {"file", "offset", "pattern", "replacement"});
        FilePatchFields patch;
        patch.file = reader.RequiredText("file");
        patch.replacement = reader.RequiredText("replacement");
        if (reader.Has("offset") == reader.Has("pattern")) reader.FailAt("offset", "give either offset or pattern");
        if (reader.Has("offset")) patch.offset = static_cast<uint32_t>(reader.Integer("offset", 0, 0xFFFFFFFE, 0));
        else patch.pattern = PatchPattern(reader);
        result.filePatches.push_back(patch);
    }
}

ProjectSet ReadSet(const TableReader& set, const SetDefaults& defaults) {
    ProjectSet result;
    InstallSetFields& fields = result.fields;
    fields.displayName = set.Text("name", defaults.title);
    SetTitle title = defaults.titleText;
    if (set.Has("name")) title = {set.String("name"), PlaceInProject(set.Where(), set.Find("name")->source(), set.KeyPath("name"))};
    // The first language fills the set's own tables in the project's code
    // page; each further one its LanguageTexts record, in its own.
    const ProjectFile& context = set.Where();
    OwnTexts texts = ReadOwnTexts(set);
    fields.tables = SetTexts(context, *context.languages.front(), context.codePage, title, defaults.texts, texts, defaults.rollback);
    for (size_t l = 1; l < context.languages.size(); l++) {
        const Language& language = *context.languages[l];
        LanguageTextsFields more;
        more.language = language.id;
        more.codePage = static_cast<uint16_t>(language.codePage);
        more.tables = SetTexts(context, language, language.codePage, title, defaults.texts, texts, defaults.rollback);
        result.languageTexts.push_back(std::move(more));
    }
    fields.caption = set.Text("caption", fields.displayName);
    fields.defaultDestination = set.Text("destination");
    if (set.Bool("destination-changeable", true)) fields.setFlags |= DestinationChangeable;
    ReadDestinationStores(set, fields);
    ReadEntries(set, result, defaults);
    ReadRegistryEntries(set, result);
    ReadIniEntries(set, result);
    ReadFilePatches(set, result);
    RegistrationFields registration = ReadRegistration(set, defaults.registration);
    // Only an installation with an uninstaller is registered with the system.
    if (set.Has("uninstaller")) result.registration = registration;
    return result;
}

void ReadSets(const TableReader& root, Project& project, const SetDefaults& defaults) {
    std::vector<const toml::table*> sets = root.Tables("set");
    if (sets.empty()) root.FailAt("set", "a project needs at least one [[set]]");
    if (sets.size() > MaxInstallSets)
        FailInProject(root.Where(), sets[MaxInstallSets]->source(), "set",
                      "a setup holds at most " + std::to_string(MaxInstallSets) + " sets");
    for (size_t i = 0; i < sets.size(); i++) {
        TableReader set(root.Where(), *sets[i], IndexedKey("", "set", i),
                        {"name", "caption", "destination", "destination-changeable", "destination-registry",
                         "destination-ini", "texts", "file", "folder", "registry", "ini", "patch", "uninstaller",
                         "registration"});
        project.sets.push_back(ReadSet(set, defaults));
    }
}

}  // namespace

Bytes MakeLogFont(const std::string& faceName, int height, int weight, bool italic, uint8_t charSet) {
    Bytes font;
    PutU32(font, static_cast<uint32_t>(-height));  // negative: the character height, not the cell height
    PutU32(font, 0);                                // width: from the height
    PutU32(font, 0);                                // escapement
    PutU32(font, 0);                                // orientation
    PutU32(font, static_cast<uint32_t>(weight));
    PutU8(font, italic ? 1 : 0);
    PutU8(font, 0);  // underline
    PutU8(font, 0);  // strike-out
    PutU8(font, charSet);
    PutU8(font, 0);  // output precision, clipping precision, quality, pitch and family: defaults
    PutU8(font, 0);
    PutU8(font, 0);
    PutU8(font, 0);
    Bytes face(MaxFaceNameLength + 1, 0);
    std::copy_n(faceName.begin(), std::min<size_t>(faceName.size(), MaxFaceNameLength), face.begin());
    PutBytes(font, face);
    return font;
}

Project LoadProject(const std::string& path, const SourceFiles& files) {
    toml::table document;
    try {
        Bytes text;
        try {
            text = files.Read(path);
        } catch (const FileReadError& e) {
            throw ProjectError(path + ": " + "File could not be opened for reading");
        }
        document = toml::parse(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()), path);
    } catch (const toml::parse_error& e) {
        if (e.source().begin.line == 0) throw ProjectError(path + ": " + std::string(e.description()));
        throw ProjectError(path + ":" + std::to_string(e.source().begin.line) + ": " + std::string(e.description()));
    }
    ProjectFile context;
    context.file = path;
    context.folder = Utf8Path(HostPath(path).parent_path());
    context.files = &files;
    TableReader root(context, document, "", {"setup", "set", "sign"});
    ReadCodePage(root, context);
    Project project;
    project.path = path;
    project.files = &files;
    project.codePage = context.codePage;
    project.dialogTemplates = DefaultDialogTemplates();
    project.wizardPicture = DefaultWizardPicture();
    SetDefaults defaults;
    ReadSetup(root, project, defaults);
    ReadSets(root, project, defaults);
    ReadSinglePage(root, project);
    ReadSigning(root, project);
    ResolveDeltaBases(project);
    CheckUninstallerProgram(root, project);
    UseBuiltInUninstaller(project, defaults);
    return project;
}
