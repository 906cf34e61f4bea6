// Texts and names in the project's Windows code page, and texts in more
// than one language: kelvo converts what the project (and the file system)
// gives in UTF-8 into the code page the setup and uninstall programs read,
// refuses a character the code page lacks, names the code page in the
// archive, and converts back when it shows or extracts an archive.
#include <doctest/doctest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "archive/catalogue.h"
#include "archive/records.h"
#include "archive/uninstall_texts.h"
#include "builder/archive_texts.h"
#include "builder/code_pages.h"
#include "builder/default_resources.h"
#include "builder/memory_source.h"
#include "builder/project.h"
#include "builder/setup_reader.h"
#include "tests/support/kelvo_commands.h"
#include "tests/support/native_files.h"

namespace fs = std::filesystem;

namespace {

// The records of an archive built by kelvo, read straight from the file
// (not through any loader): id and raw body of each, in order.
struct RawRecord {
    uint16_t id;
    Bytes body;
};

std::vector<RawRecord> RecordsOf(const std::string& setupPath) {
    Bytes setup = ReadBytes(setupPath);
    auto marker = std::search(setup.begin(), setup.end(), ArchiveOffsetMarker, ArchiveOffsetMarker + 6);
    REQUIRE(marker != setup.end());
    size_t at = ReadU32(&*marker + 6);
    std::vector<RawRecord> records;
    while (at + sizeof(RecordHeader) <= setup.size()) {
        uint16_t id = ReadU16(&setup[at]);
        uint32_t length = ReadU32(&setup[at + 4]);
        if (id == FileDataRecord) break;
        REQUIRE(setup.size() - at - 8 >= length);
        Bytes body(setup.begin() + at + 8, setup.begin() + at + 8 + length);
        if (setup[at + 2] & CompressedBody) {
            REQUIRE(length >= 4);
            Bytes decoded(ReadU32(body.data()) + 1);
            MemoryInput input;
            input.data = body.data() + 4;
            input.size = length - 4;
            InflateSource source = MemoryInflateSource(input);
            u32 produced = 0;
            REQUIRE(InflateToMemory(decoded.data(), static_cast<u32>(decoded.size() - 1), source, &produced));
            decoded.resize(produced);
            body = decoded;
        }
        records.push_back({id, body});
        at += 8 + length;
    }
    return records;
}

std::string Text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

int Build(const fs::path& folder, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {(folder / "kelvo.toml").string(), "-o", (folder / "setup.exe").string(),
                                     "--stub", FakeStub(folder)};
    args.insert(args.end(), extra.begin(), extra.end());
    Silenced quietOutput(STDOUT_FILENO);
    return RunBuild(args);
}

// The texts of an uninstaller's data: code page, first language's texts,
// and each further language's id, code page and texts.
UninstallerTextsView UninstallerOf(const Project& project) {
    for (const ProjectEntry& entry : project.sets.at(0).entries)
        if (entry.fields.entryFlags & UninstallerEntry) return UninstallerTextsOf(*entry.inlineContents);
    FAIL("no uninstaller entry");
    throw;
}

}  // namespace

TEST_CASE("each allowed code page converts a character of its own both ways and another page refuses it") {
    struct Case {
        uint32_t codePage;
        const char* character;
        const char* bytes;
        uint32_t lacking;  // a code page without the character
    };
    const Case cases[] = {
        {874, "ก", "\xA1", 1252},         {1250, "ł", "\xB3", 1252},       {1251, "Ж", "\xC6", 1252},
        {1252, "ð", "\xF0", 1250},        {1253, "Ω", "\xD9", 1252},       {1254, "ğ", "\xF0", 1252},
        {1255, "א", "\xE0", 1252},        {1256, "ب", "\xC8", 1252},       {1257, "ų", "\xF8", 1252},
        {1258, "ư", "\xFD", 1252},        {932, "ソ", "\x83\x5C", 1252},   {936, "汉", "\xBA\xBA", 932},
        {949, "한", "\xC7\xD1", 936},     {950, "說", "\xBB\xA1", 932},
    };
    std::map<uint32_t, bool> covered;
    for (const Case& c : cases) {
        INFO("code page " << c.codePage << ", " << c.character);
        EncodeFault fault;
        std::string text = std::string("a") + c.character + "\\b";
        std::optional<std::string> encoded = EncodeText(text, c.codePage, &fault);
        REQUIRE(encoded);
        CHECK(*encoded == std::string("a") + c.bytes + "\\b");
        CHECK(DecodeText(*encoded, c.codePage) == text);
        CHECK_FALSE(EncodeText(text, c.lacking, &fault));
        CHECK(fault.character == c.character);
        covered[c.codePage] = true;
    }
    for (const CodePage& page : AllowedCodePages()) CHECK_MESSAGE(covered[page.number], "no case for " << page.number);
}

TEST_CASE("a byte that starts no character of the code page decodes to U+FFFD in its place, also at the end") {
    struct Case {
        uint32_t codePage;
        const char* text;
        const char* utf8;
    };
    const Case cases[] = {
        {1252, "x\x81y", "x\uFFFDy"},  // one of 1252's five undefined bytes
        {949, "a\xA2", "a\uFFFD"},     // a lead byte ending the text
        {932, "a\x83", "a\uFFFD"},     {936, "a\x81", "a\uFFFD"},
        {950, "a\xA4", "a\uFFFD"},     {949, "\xC7\xD1\xA2", "\xED\x95\x9C\uFFFD"},
        {932, "\x83\x5C\x83", "\xE3\x82\xBD\uFFFD"},  // a whole character, then a lone lead byte
    };
    for (const Case& c : cases) {
        INFO("code page " << c.codePage << ", " << c.text);
        CHECK(DecodeText(c.text, c.codePage) == c.utf8);
    }
}

TEST_CASE("a character the code page lacks is refused with the place, the character and its code point") {
    Scratch s("code-page-faults");
    std::string folder = s.Folder("project");
    WriteText(folder + "/docs/Résumé.txt", "cv");
    struct Case {
        const char* project;
        const char* message;
    };
    const Case cases[] = {
        {"[setup]\ncodepage = 1250\n[[set]]\nname = \"Señor\"\n",
         ":4: set[0].name: \"ñ\" (U+00F1) is not in code page 1250"},
        {"[setup]\ncodepage = 1251\n[[set]]\n[[set.file]]\nfolder = \"ok\"\nsource = \"docs/*\"\n",
         ":6: set[0].file[0].source: \"é\" (U+00E9) is not in code page 1251 (in the name \"Résumé.txt\")"},
        {"[setup]\ncodepage = 1251\n[[set]]\n[[set.file]]\nsource = \"docs/*\"\nfolder = \"Größe\"\n",
         ":6: set[0].file[0].folder: \"ö\" (U+00F6) is not in code page 1251"},
        {"[[set]]\n[[set.registry]]\nroot = \"HKCU\"\nkey = \"Software\\\\Łódź\"\n",
         ":4: set[0].registry[0].key: \"Ł\" (U+0141) is not in code page 1252"},
        {"[[set]]\n[set.texts]\nwelcome = [\"Hello\", \"Привет\"]\n",
         ":3: set[0].texts.welcome[1]: \"П\" (U+041F) is not in code page 1252"},
        {"[setup]\nlanguages = [\"en\", \"ru\"]\n[[set]]\nname = \"Müller\"\n",
         ":4: set[0].name: \"ü\" (U+00FC) is not in code page 1251 (the set's name, in the ru texts)"},
        {"[setup]\nlanguages = [\"de\"]\ncodepage = 1251\n[[set]]\n",
         ":2: setup.languages: \"ß\" (U+00DF) is not in code page 1251 (kelvo's de text welcome 2"},
        {"[setup]\n[setup.uninstall-texts]\ndone = \"Готово\"\n[[set]]\nuninstaller = \"u.exe\"\n",
         ":3: setup.uninstall-texts.done: \"Г\" (U+0413) is not in code page 1252"},
        {"[setup]\ncodepage = 65001\n[[set]]\n", ":2: setup.codepage: must be one of the Windows code pages 874 (Thai), 1250"},
        {"[setup]\nlanguages = [\"sv\"]\n[[set]]\n", ":2: setup.languages: kelvo has no texts in \"sv\" (it has en, de"},
        {"[setup]\nlanguages = [\"de\", \"de\"]\n[[set]]\n", ":2: setup.languages: names \"de\" twice"},
        {"[setup]\n[setup.texts.de]\nwelcome = [\"Hallo\"]\n[[set]]\n",
         ":2: setup.texts.de: \"de\" is not a language of the project ([setup] languages: en)"},
    };
    for (const Case& c : cases) {
        std::string path = folder + "/kelvo.toml";
        WriteText(path, c.project);
        INFO(c.project);
        std::string expected = path + c.message;
        CHECK_THROWS_WITH_AS(LoadProject(path), doctest::Contains(expected.c_str()), ProjectError);
    }
}

TEST_CASE("a Western European project is written in code page 1252 and shown and extracted in UTF-8") {
    Scratch s("code-page-1252");
    std::string folder = s.Folder("project");
    WriteText(folder + "/docs/Résumé.txt", "curriculum vitae");
    WriteText(folder + "/kelvo.toml",
              "[setup]\ntitle = \"Café Müller – Größe\"\n[[set]]\ndestination = \"C:\\\\Café\"\n"
              "[[set.file]]\nsource = \"docs/*\"\nfolder = \"Über\"\n"
              "[[set.file]]\nsource = \"docs/Résumé.txt\"\nname = \"cv.txt\"\n"
              "shortcut = { folders = \"Café\", name = \"Résumé\" }\n");
    REQUIRE(Build(folder) == 0);
    std::string setup = folder + "/setup.exe";

    std::vector<RawRecord> records = RecordsOf(setup);
    REQUIRE(records.size() >= 2);
    CHECK(records[1].id == CodePageRecord);  // right behind the setup flags
    CHECK(ReadU32(records[1].body.data()) == 1252);
    std::string setRecord, fileList;
    for (const RawRecord& r : records) {
        if (r.id == InstallSetRecord) setRecord = Text(r.body);
        if (r.id == FileListRecord) fileList = Text(r.body);
        CHECK(r.id != LanguageTextsRecord);  // one language: the set's own tables
    }
    CHECK(Contains(setRecord, "Caf\xE9 M\xFCller \x96 Gr\xF6\xDF" "e"));
    CHECK(Contains(setRecord, "C:\\Caf\xE9"));
    CHECK(Contains(fileList, std::string("\xDC" "ber\\R\xE9sum\xE9.txt") + '\0'));
    CHECK(Contains(fileList, std::string("R\xE9sum\xE9") + '\0'));

    Outcome listed = List(setup);
    CHECK(listed.status == 0);
    CHECK(Contains(listed.out, "Set 0: Café Müller – Größe"));
    CHECK(Contains(listed.out, "<set>\\Über\\Résumé.txt"));
    CHECK(Contains(listed.out, "menu \"Café\\Résumé\""));
    CHECK(Contains(listed.out, "code page:         1252"));

    Outcome extracted = Extract(setup, s.path / "out");
    CHECK(extracted.status == 0);
    CHECK(ReadText(s.path / "out" / "Über" / "Résumé.txt") == "curriculum vitae");

    nlohmann::json dumped = nlohmann::json::parse(Dump(setup).out);
    CHECK(dumped["codePage"] == 1252);
    CHECK(dumped["sets"][0]["displayName"] == "Café Müller – Größe");
    CHECK(dumped["sets"][0]["files"][0]["fileName"] == "Über\\Résumé.txt");
}

TEST_CASE("a double-byte name whose second byte is a backslash extracts to the folders it names") {
    Scratch s("code-page-932");
    std::string folder = s.Folder("project");
    WriteText(folder + "/data.txt", "data");
    // ソ is 0x83 0x5C and 表 0x95 0x5C in code page 932: each second byte is '\'.
    WriteText(folder + "/kelvo.toml",
              "[setup]\ncodepage = 932\n[[set]]\nname = \"ソフト\"\n[[set.file]]\nsource = \"data.txt\"\n"
              "name = \"ソ/表.txt\"\n");
    REQUIRE(Build(folder) == 0);
    std::string fileList;
    for (const RawRecord& r : RecordsOf(folder + "/setup.exe"))
        if (r.id == FileListRecord) fileList = Text(r.body);
    CHECK(Contains(fileList, std::string("\x83\x5C\\\x95\x5C.txt") + '\0'));
    Outcome extracted = Extract(folder + "/setup.exe", s.path / "out");
    CHECK(extracted.status == 0);
    CHECK(ReadText(s.path / "out" / "ソ" / "表.txt") == "data");
    CHECK(Contains(List(folder + "/setup.exe").out, "Set 0: ソフト"));
}

TEST_CASE("the background title's font takes the character set of the code page") {
    Scratch s("code-page-charset");
    std::string folder = s.Folder("project");
    const std::pair<uint32_t, uint8_t> cases[] = {{1252, 0}, {1250, 238}, {1251, 204}, {932, 128}, {936, 134}};
    const size_t CharSetAt = 8 + 23;  // the colours, then LOGFONTA's lfCharSet
    for (auto [codePage, charSet] : cases) {
        INFO("code page " << codePage);
        WriteText(folder + "/kelvo.toml", "[setup]\ncodepage = " + std::to_string(codePage) +
                                              "\n[setup.background]\ntitle = \"T\"\n[[set]]\n");
        Project project = LoadProject(folder + "/kelvo.toml");
        CHECK(project.codePage == codePage);
        REQUIRE(project.backgroundStyle.size() > CharSetAt);
        CHECK(project.backgroundStyle[CharSetAt] == charSet);
    }
}

TEST_CASE("each further language adds a LanguageTexts record behind each set, in its own code page") {
    Scratch s("code-page-languages");
    std::string folder = s.Folder("project");
    WriteText(folder + "/kelvo.toml",
              "[setup]\nlanguages = [\"en\", \"de\", \"ru\"]\ntitle = \"Delta – 2\"\n"
              "[setup.texts]\nwelcome = [\"Welcome to Größe\"]\n"
              "[setup.texts.de]\nwelcome = [\"Willkommen in Größe\"]\n"
              "[setup.texts.ru]\nwelcome = [\"Добро пожаловать\"]\n"
              "[[set]]\n[[set]]\nname = \"Second\"\n[set.texts.ru]\nwelcome = [\"Второй\"]\n");
    REQUIRE(Build(folder) == 0);
    // The records of each set behind its InstallSet record.
    std::vector<std::vector<RawRecord>> sets;
    for (const RawRecord& r : RecordsOf(folder + "/setup.exe")) {
        if (r.id == InstallSetRecord) sets.emplace_back();
        if (r.id == CodePageRecord) CHECK(ReadU32(r.body.data()) == 1252);  // the first language's
        if (r.id == LanguageTextsRecord) {
            REQUIRE_FALSE(sets.empty());
            sets.back().push_back(r);
        }
    }
    REQUIRE(sets.size() == 2);
    struct Expected {
        uint16_t language;
        uint16_t codePage;
        std::string welcome;  // string 0 of the welcome table, as the record holds it
        std::string title;    // the name in the setup title, message 0
    };
    const std::vector<Expected> expected[2] = {
        {{0x0407, 1252, "Willkommen in Gr\xF6\xDF" "e", "Delta \x96 2"},
         {0x0419, 1251, "\xC4\xEE\xE1\xF0\xEE \xEF\xEE\xE6\xE0\xEB\xEE\xE2\xE0\xF2\xFC", "Delta \x96 2"}},
        {{0x0407, 1252, "Willkommen in Gr\xF6\xDF" "e", "Second"}, {0x0419, 1251, "\xC2\xF2\xEE\xF0\xEE\xE9", "Second"}},
    };
    for (size_t set = 0; set < 2; set++) {
        INFO("set " << set);
        REQUIRE(sets[set].size() == expected[set].size());
        for (size_t l = 0; l < expected[set].size(); l++) {
            const Bytes& body = sets[set][l].body;
            CHECK(ReadU16(body.data()) == expected[set][l].language);
            CHECK(ReadU16(body.data() + 2) == expected[set][l].codePage);
            // Table 0 is the first behind the fixed part: u32 L, u16 count, texts.
            std::string welcome(reinterpret_cast<const char*>(body.data()) + 4 + 4 + 2);
            CHECK(welcome == expected[set][l].welcome);
            CHECK(Contains(Text(body), expected[set][l].title));
        }
    }
    // The set's own tables are the first language's, with [setup.texts].
    nlohmann::json dumped = nlohmann::json::parse(Dump(folder + "/setup.exe").out);
    CHECK(dumped["sets"][0]["texts"][WelcomeTexts][0] == "Welcome to Größe");
    CHECK(dumped["sets"][0]["languages"][1]["texts"][WelcomeTexts][0] == "Добро пожаловать");
    CHECK(dumped["sets"][1]["languages"][1]["texts"][WelcomeTexts][0] == "Второй");
    CHECK(Contains(List(folder + "/setup.exe").out, "language:     ru (0x0419), code page 1251"));
}

TEST_CASE("the uninstall program's texts come in the project's languages, each in its code page") {
    Scratch s("code-page-uninstall");
    std::string folder = s.Folder("project");
    WriteBytes(folder + "/uninstall.exe", Bytes(64, 'U'));
    struct Case {
        const char* setup;
        uint32_t codePage;
        std::string caption;  // the first language's
        std::vector<std::pair<uint16_t, uint16_t>> languages;
        std::string lastConfirm;  // the last language's confirm text, as written
    };
    const Case cases[] = {
        {"[setup]\n", 1252, "Uninstall", {}, ""},
        {"[setup]\ncodepage = 1250\n[setup.uninstall-texts]\ncaption = \"Odinstalowanie – ł\"\n", 1250,
         "Odinstalowanie \x96 \xB3", {}, ""},
        {"[setup]\nlanguages = [\"de\", \"en\", \"ru\"]\n[setup.uninstall-texts.ru]\nconfirm = \"Удалить %s?\"\n", 1252,
         "Deinstallation", {{0x0409, 1252}, {0x0419, 1251}}, "\xD3\xE4\xE0\xEB\xE8\xF2\xFC %s?"},
    };
    for (const Case& c : cases) {
        INFO(c.setup);
        WriteText(folder + "/kelvo.toml", std::string(c.setup) + "[[set]]\nname = \"App\"\nuninstaller = \"uninst.exe\"\n");
        Project project = LoadProject(folder + "/kelvo.toml");
        UninstallerTextsView view = UninstallerOf(project);
        REQUIRE(view.found);
        CHECK(view.codePage == c.codePage);
        REQUIRE(view.texts.size() == UninstallTextCount);
        CHECK(view.texts[CaptionText] == c.caption);
        REQUIRE(view.languages.size() == c.languages.size());
        for (size_t l = 0; l < c.languages.size(); l++) {
            CHECK(view.languages[l].language == c.languages[l].first);
            CHECK(view.languages[l].codePage == c.languages[l].second);
            CHECK(view.languages[l].texts.size() == UninstallTextCount);
        }
        if (!c.languages.empty()) CHECK(view.languages.back().texts[ConfirmText] == c.lastConfirm);
    }
    // And the dump shows them in UTF-8 from the uninstaller's own records.
    REQUIRE(Build(folder, {"--uninstaller", folder + "/uninstall.exe"}) == 0);
    nlohmann::json dumped = nlohmann::json::parse(Dump(folder + "/setup.exe").out);
    const nlohmann::json& texts = dumped["sets"][0]["files"].back()["uninstallerTexts"];
    CHECK(texts["codePage"] == 1252);
    CHECK(texts["languages"][1]["texts"][ConfirmText] == "Удалить %s?");
}

TEST_CASE("every built-in language file is a known language whose texts its own code page holds") {
    Scratch s("code-page-built-in");
    std::string folder = s.Folder("project");
    for (const std::string& code : LanguageFileCodes()) {
        INFO("resources/languages/" << code << ".toml");
        const Language* language = FindLanguage(code);
        REQUIRE(language != nullptr);
        // Every text of the language, the uninstall program's too, converted
        // into the language's code page: as the first language and as a further one.
        struct Use {
            std::string languages;
            uint32_t codePage;  // the project's
        };
        for (const Use& use : {Use{"[\"" + code + "\"]", language->codePage}, Use{"[\"en\", \"" + code + "\"]", 1252}}) {
            WriteText(folder + "/kelvo.toml", "[setup]\nlanguages = " + use.languages +
                                                  "\n[[set]]\nname = \"App\"\nuninstaller = \"u.exe\"\n");
            Project project;
            CHECK_NOTHROW(project = LoadProject(folder + "/kelvo.toml"));
            CHECK(project.codePage == use.codePage);
        }
    }
}

TEST_CASE("names compare without case, but the second byte of a double-byte character as it is") {
    struct Case {
        const char* a;
        const char* b;
        uint32_t codePage;
        bool same;
    };
    const Case cases[] = {
        {"Readme.TXT", "readme.txt", 932, true},
        {"\x83\x41.txt", "\x83\x61.txt", 932, false},  // ア and a different character, not a case pair
        {"\x83\x41.txt", "\x83\x61.txt", 1252, true},  // in 1252 two characters each: ƒA and ƒa
        {"\x83\x41" "B", "\x83\x41" "b", 932, true},
        {"\xB0\x41", "\xB0\x61", 936, false},
    };
    for (const Case& c : cases) {
        INFO(c.a << " / " << c.b << " in " << c.codePage);
        CHECK(SameName(c.a, c.b, c.codePage) == c.same);
    }
}
