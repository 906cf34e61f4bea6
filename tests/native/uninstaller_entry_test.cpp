// What kelvo writes for a set's uninstaller when the project brings no
// uninstall program: kelvo's own program as PrefixData, and as the entry's
// data the program's texts (English, or the project's) and the closing
// header that setup replaces with the uninstall log.
#include <doctest/doctest.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <utility>
#include <string>
#include <vector>

#include "archive/archive_offset.h"
#include "archive/records.h"
#include "archive/uninstall_settings.h"
#include "archive/uninstall_texts.h"
#include "builder/command_line.h"
#include "builder/project.h"
#include "builder/setup_commands.h"
#include "tests/support/kelvo_commands.h"
#include "tests/support/native_files.h"

namespace fs = std::filesystem;

namespace {


const ProjectEntry& UninstallerOf(const Project& project) {
    for (const ProjectEntry& entry : project.sets.at(0).entries)
        if (entry.fields.entryFlags & UninstallerEntry) return entry;
    FAIL("no uninstaller entry");
    throw;
}

// The records of an uninstaller's data by id: the texts, the settings and
// the closing header, which must come last and nothing after it.
std::map<uint16_t, Bytes> RecordsOf(const Bytes& data) {
    std::map<uint16_t, Bytes> records;
    size_t at = 0;
    for (;;) {
        REQUIRE(data.size() - at >= sizeof(RecordHeader));
        uint16_t id = ReadU16(data.data() + at);
        CHECK(data[at + 2] == 0);  // not compressed: the uninstaller reads it as it stands
        uint32_t length = ReadU32(data.data() + at + 4);
        at += sizeof(RecordHeader);
        if (id == FileDataRecord) {
            CHECK(length == 0);
            CHECK(at == data.size());
            return records;
        }
        REQUIRE(data.size() - at >= length);
        records[id] = Bytes(data.begin() + at, data.begin() + at + length);
        at += length;
    }
}

std::vector<std::string> TextsOf(const Bytes& data) {
    std::map<uint16_t, Bytes> records = RecordsOf(data);
    REQUIRE(records.count(UninstallTextsRecord) == 1);
    std::vector<std::string> texts;
    std::string text;
    for (uint8_t byte : records[UninstallTextsRecord]) {
        if (byte != 0) text += static_cast<char>(byte);
        else texts.push_back(std::exchange(text, ""));
    }
    CHECK(text.empty());  // the last text is terminated too
    return texts;
}

// The settings record as lines "kind flags root|first|second|third|value".
std::vector<std::string> SettingsOf(const Bytes& data) {
    std::map<uint16_t, Bytes> records = RecordsOf(data);
    REQUIRE(records.count(UninstallSettingsRecord) == 1);
    const Bytes& body = records[UninstallSettingsRecord];
    REQUIRE(body.size() >= 4);
    uint32_t count = ReadU32(body.data());
    size_t at = 4;
    std::vector<std::string> lines;
    for (uint32_t i = 0; i < count; i++) {
        REQUIRE(body.size() - at >= 6);
        std::string line = std::to_string(body[at]) + " " + std::to_string(body[at + 1]) + " " +
                           std::to_string(ReadU32(body.data() + at + 2));
        at += 6;
        for (int s = 0; s < 4; s++) {
            REQUIRE(body.size() - at >= 2);
            uint16_t length = ReadU16(body.data() + at);
            REQUIRE(body.size() - at - 2 >= length);
            line += "|" + std::string(body.begin() + at + 2, body.begin() + at + 2 + length);
            at += 2 + length;
        }
        lines.push_back(line);
    }
    CHECK(at == body.size());
    return lines;
}

int Build(const fs::path& folder, const std::string& uninstaller) {
    std::vector<std::string> args = {(folder / "kelvo.toml").string(), "-o", (folder / "setup.exe").string(),
                                     "--stub", FakeStub(folder), "--uninstaller", uninstaller};
    Silenced quietOutput(STDOUT_FILENO), quietErrors(STDERR_FILENO);
    return RunBuild(args);
}

const char* const setWithUninstaller = "[[set]]\nname = \"App\"\nuninstaller = \"uninst.exe\"\n";

}  // namespace

TEST_CASE("an uninstaller without a program of the project's gets kelvo's texts, in order, with its closing header") {
    Scratch s("uninstaller-entry");
    struct Case {
        const char* setup;  // the [setup] part of the project
        const char* name;   // the text it changes, or none
        const char* text;
    };
    const Case cases[] = {
        {"", nullptr, nullptr},
        {"[setup.uninstall-texts]\nconfirm = \"Really remove %s?\"\n", "confirm", "Really remove %s?"},
        {"[setup.uninstall-texts]\ncaption = \"\"\n", "caption", ""},
    };
    for (const Case& c : cases) {
        CAPTURE(std::string(c.setup));
        WriteText(s.path / "kelvo.toml", std::string(c.setup) + setWithUninstaller);
        Project project = LoadProject((s.path / "kelvo.toml").string());
        CHECK(project.needsUninstallProgram);
        CHECK(project.prefixData.empty());  // the build adds it
        const ProjectEntry& entry = UninstallerOf(project);
        REQUIRE(entry.inlineContents.has_value());
        std::vector<std::string> texts = TextsOf(*entry.inlineContents);
        REQUIRE(texts.size() == UninstallTextCount);
        for (uint32_t n = 0; n < UninstallTextCount; n++) {
            bool changed = c.name != nullptr && n == (std::string(c.name) == "confirm" ? ConfirmText : CaptionText);
            CAPTURE(n);
            if (changed) CHECK(texts[n] == c.text);
            else CHECK_FALSE(texts[n].empty());  // every English text is there
        }
        CHECK(texts[CaptionText] == (c.name != nullptr && std::string(c.name) == "caption" ? "" : "Uninstall"));
        CHECK(texts[ConfirmText].find("%s") != std::string::npos);
        CHECK(texts[KeepSharedText].find("%s") != std::string::npos);
    }
}

TEST_CASE("the uninstaller's data lists the set's registry values and INI entries for removal") {
    Scratch s("uninstaller-entry");
    WriteText(s.path / "app.ini", "");
    WriteText(s.path / "kelvo.toml", std::string(setWithUninstaller) + R"(
destination-registry = { root = "HKLM", key = "Software\\Kelvo\\App", value = "Path" }
destination-ini = { file = "kelvo.ini", section = "App", key = "Path" }
[[set.file]]
source = "app.ini"
[[set.registry]]
root = "HKCU"
key = "Software\\Kelvo\\App"
name = "Version"
data = "1.0"
[[set.registry]]
root = "HKCR"
key = ".kelvo"
name = ""
data = "#InstallDir#\\app.exe"
keep-existing = true
[[set.registry]]
root = "HKCU"
key = "Software\\Kelvo\\App"
name = "Long"
data = ")" + std::string(SettingValueCapacity, 'x') + R"("
keep-existing = true
[[set.ini]]
file = "#Windows#\\win.ini"
section = "Kelvo"
key = "App"
value = "#InstallDir#"
only-if-missing = true
[[set.ini]]
file = "#InstallDir#\\other.ini"
section = "S"
key = "K"
value = "V"
[[set.ini]]
file = "APP.INI"
section = "S"
key = "K"
value = "in the installed file, which goes with its entry"
)");
    Project project = LoadProject((s.path / "kelvo.toml").string());
    const std::vector<std::string> expected = {
        "0 0 2|Software\\Kelvo\\App|Path||",
        "1 0 0|kelvo.ini|App|Path|",
        "0 0 1|Software\\Kelvo\\App|Version||",                  // plain: no data needed
        "0 1 0|.kelvo|||#InstallDir#\\app.exe",                     // kept: compared before removal
        "1 1 0|#Windows#\\win.ini|Kelvo|App|#InstallDir#",
        "1 0 0|#InstallDir#\\other.ini|S|K|",
    };  // the kept value too long to compare is not listed, so it stays
    CHECK(SettingsOf(*UninstallerOf(project).inlineContents) == expected);
}

TEST_CASE("an uninstaller with the project's program keeps only the closing header, and no texts are written") {
    Scratch s("uninstaller-entry");
    WriteBytes(s.path / "own.bin", Bytes(100, 'P'));
    WriteText(s.path / "kelvo.toml", std::string("[setup]\nuninstaller-program = \"own.bin\"\n") + setWithUninstaller);
    Project project = LoadProject((s.path / "kelvo.toml").string());
    CHECK_FALSE(project.needsUninstallProgram);
    CHECK(*UninstallerOf(project).inlineContents == Bytes({0x7F, 0x7F, 0, 0, 0, 0, 0, 0}));
    CHECK(project.prefixData == Bytes(100, 'P'));
}

TEST_CASE("kelvo build puts its uninstall program ahead of the uninstaller's texts, or fails without it") {
    Scratch s("uninstaller-entry");
    Bytes program(3000, 0);
    for (size_t i = 0; i < program.size(); i++) program[i] = static_cast<uint8_t>(i * 7);
    WriteBytes(s.path / "kelvo-uninstall.exe", program);
    WriteText(s.path / "kelvo.toml", std::string("[setup]\nwizard-picture = \"\"\n") + setWithUninstaller);
    REQUIRE(Build(s.path, (s.path / "kelvo-uninstall.exe").string()) == 0);

    std::ostringstream out, err;
    REQUIRE(ExtractSetup({(s.path / "setup.exe").string(), (s.path / "out").string(), 0}, out, err) == CommandSucceeded);
    Bytes installed = ReadBytes(s.path / "out/uninst.exe");
    REQUIRE(installed.size() > program.size());
    CHECK(Bytes(installed.begin(), installed.begin() + program.size()) == program);
    CHECK(TextsOf(Bytes(installed.begin() + program.size(), installed.end())).size() == UninstallTextCount);

    CHECK(Build(s.path, (s.path / "missing.exe").string()) != 0);
}

TEST_CASE("uninstall texts the program does not know, or meant for another program, are refused") {
    Scratch s("uninstaller-entry");
    WriteBytes(s.path / "own.bin", Bytes(10, 'P'));
    struct Case {
        const char* setup;
        const char* message;
    };
    const Case cases[] = {
        {"[setup.uninstall-texts]\ngoodbye = \"x\"\n", "setup.uninstall-texts: has no text \"goodbye\""},
        {"[setup.uninstall-texts]\ndone = 3\n", "\"done\" must be a text"},
        {"[setup]\nuninstaller-program = \"own.bin\"\n[setup.uninstall-texts]\ndone = \"x\"\n",
         "does not go with uninstaller-program"},
    };
    for (const Case& c : cases) {
        CAPTURE(std::string(c.setup));
        WriteText(s.path / "kelvo.toml", std::string(c.setup) + setWithUninstaller);
        CHECK_THROWS_WITH_AS(LoadProject((s.path / "kelvo.toml").string()), doctest::Contains(c.message), ProjectError);
    }
}

TEST_CASE("a set with an uninstaller is registered with its size and the project's values; others are not") {
    Scratch s("registration");
    WriteBytes(s.path / "app.bin", Bytes(3000, 7));
    struct Case {
        const char* project;
        const char* listed;  // the line kelvo list shows for set 0, or null for none
    };
    const char* const file = "[[set.file]]\nsource = \"app.bin\"\n";
    const Case cases[] = {
        // Without keys: the size, and neither changed nor repaired.
        {"[[set]]\nname = \"App\"\nuninstaller = \"uninst.exe\"\n", "  registration: 3 KB, no modify, no repair\n"},
        {"[setup.registration]\nversion = \"2.5\"\npublisher = \"Maker\"\nicon = \"#InstallDir#\\\\app.exe\"\n"
         "about-url = \"https://a.example\"\nhelp-url = \"https://h.example\"\nno-repair = false\n"
         "[[set]]\nname = \"App\"\nuninstaller = \"uninst.exe\"\n",
         "  registration: 3 KB, no modify, version \"2.5\", publisher \"Maker\", icon \"#InstallDir#\\app.exe\", "
         "about \"https://a.example\", help \"https://h.example\"\n"},
        // A set's own table overrides the setup's, key by key.
        {"[setup.registration]\nversion = \"2.5\"\npublisher = \"Maker\"\n"
         "[[set]]\nname = \"App\"\nuninstaller = \"uninst.exe\"\n[set.registration]\nversion = \"3.0\"\nno-modify = false\n",
         "  registration: 3 KB, no repair, version \"3.0\", publisher \"Maker\"\n"},
        // Without an uninstaller nothing is registered, so no record.
        {"[setup.registration]\nversion = \"2.5\"\n[[set]]\nname = \"App\"\n", nullptr},
    };
    for (const Case& c : cases) {
        CAPTURE(std::string(c.project));
        std::string project = c.project;
        // The file goes into the first set, before its registration table if any.
        size_t at = project.find("[set.registration]");
        project.insert(at == std::string::npos ? project.size() : at, file);
        WriteText(s.path / "kelvo.toml", project);
        REQUIRE(Build(s.path, FakeStub(s.path)) == 0);
        Outcome listed = RunCommand([&](std::ostream& out, std::ostream& err) {
            return ListSetup((s.path / "setup.exe").string(), out, err);
        });
        REQUIRE(listed.status == CommandSucceeded);
        if (c.listed == nullptr) {
            CHECK(listed.out.find("registration:") == std::string::npos);
        } else {
            CHECK(Contains(listed.out, c.listed));
        }
    }
}

TEST_CASE("registration keys are checked like every key") {
    Scratch s("registration-keys");
    WriteText(s.path / "kelvo.toml", "[setup.registration]\nversoin = \"1\"\n[[set]]\nname = \"App\"\n");
    CHECK_THROWS_WITH_AS(LoadProject((s.path / "kelvo.toml").string()),
                         doctest::Contains("setup.registration.versoin"), ProjectError);
}
