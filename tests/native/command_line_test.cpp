// The setup program's command line, read natively: every form of the DEL and
// S options, the unattended options and their values, where parsing stops,
// and lines that end inside an option.
#include <doctest/doctest.h>
#include <string.h>

#include <string>
#include <vector>

#include "common/paths.h"
#include "control/command_line.h"

namespace {

const char* const OwnFile = "C:\\SETUP.EXE";

struct Parsed {
    bool deleteSelf;
    std::string source;
    RunOptions options;
};

// Parses `line` from a copy on the heap that holds exactly the line, so
// AddressSanitizer catches any read past its terminator.
Parsed Parse(const char* line) {
    REQUIRE(AllocatePathBuffers());
    CopyPath(SourcePath, OwnFile, PathCapacity);
    std::vector<char> exact(line, line + strlen(line) + 1);
    char* copy = new char[exact.size()];
    memcpy(copy, exact.data(), exact.size());
    RunOptions options;
    ReadCommandLine(copy, &options);
    Parsed parsed{options.deleteSelf, SourcePath, options};
    delete[] copy;
    ReleasePathBuffers();
    return parsed;
}

}  // namespace

TEST_CASE("command line options") {
    struct Case {
        const char* line;
        bool deleteSelf;
        const char* source;
    };
    const Case cases[] = {
        {"", false, OwnFile},
        {"   ", false, OwnFile},
        {"/DEL", true, OwnFile},
        {"-del", true, OwnFile},
        {"  /dEl", true, OwnFile},
        {"/DELETE", true, OwnFile},
        {"-delete /s x", true, "x"},
        {"/D", false, OwnFile},
        {"/DE", false, OwnFile},
        {"/DX /DEL", true, OwnFile},
        {"/X /DEL", true, OwnFile},
        // The first word without a switch character ends parsing.
        {"setup /DEL", false, OwnFile},
        {"/DEL word /S A:\\X.EXE", true, OwnFile},
        // The S argument: glued, after blanks, quoted with blanks inside.
        {"/SA:\\SETUP.EXE", false, "A:\\SETUP.EXE"},
        {"/S A:\\SETUP.EXE /DEL", true, "A:\\SETUP.EXE"},
        {"/s\"A:\\My Setup\\setup.exe\"", false, "A:\\My Setup\\setup.exe"},
        {"/S  \"A:\\My Setup\\setup.exe\" /DEL", true, "A:\\My Setup\\setup.exe"},
        {"/S\"A:\\no closing quote/DEL", false, "A:\\no closing quote/DEL"},
        {"/DEL/S\"A:\\a b.exe\"", true, "A:\\a b.exe"},
        {"/DEL-S\"A:\\a b.exe\"", true, "A:\\a b.exe"},
        {"/S\"A:\\a b.exe\"/DEL", true, "A:\\a b.exe"},
        {"/S C:\\my-setup\\x.exe /DEL", true, "C:\\my-setup\\x.exe"},
        {"/S A:\\X.EXE B:\\Y.EXE /DEL", false, "A:\\X.EXE"},
        // Empty arguments leave SourcePath empty.
        {"/S", false, ""},
        {"/S   ", false, ""},
        {"/S\"\"", false, ""},
        {"/S \"\" /DEL", true, ""},
        // A line that ends in a switch character or inside an option.
        {"/", false, OwnFile},
        {"-", false, OwnFile},
        {"/DEL /", true, OwnFile},
        {"/DEL -", true, OwnFile},
        {"/S\"", false, ""},
        {"/DEL/", true, OwnFile},
    };
    for (const Case& c : cases) {
        CAPTURE(c.line);
        Parsed parsed = Parse(c.line);
        CHECK(parsed.deleteSelf == c.deleteSelf);
        CHECK(parsed.source == c.source);
    }
}

TEST_CASE("an S argument longer than the path buffer is cut and the rest passed over") {
    std::string longPath(400, 'x');
    std::string line = "/S\"" + longPath + "\" /DEL";
    Parsed parsed = Parse(line.c_str());
    CHECK(parsed.source == longPath.substr(0, PathCapacity - 1));
    CHECK(parsed.deleteSelf);

    line = "/S" + longPath + " /DEL";
    parsed = Parse(line.c_str());
    CHECK(parsed.source == longPath.substr(0, PathCapacity - 1));
    CHECK(parsed.deleteSelf);
}

TEST_CASE("unattended options, their values and their mistakes") {
    struct Case {
        const char* line;
        RunMode mode;
        bool noRestart, invalid;
        const char *target, *installSet, *log;
    };
    const Case cases[] = {
        {"", InteractiveRun, false, false, "", "", ""},
        {"/QUIET", QuietRun, false, false, "", "", ""},
        {"-quiet /NoRestart", QuietRun, true, false, "", "", ""},
        {"/passive", PassiveRun, false, false, "", "", ""},
        {"/Q /P", PassiveRun, false, false, "", "", ""},  // the last mode given counts
        // Values: bare to the next blank, or quoted with blanks inside.
        {"/TARGET=C:\\Apps\\Demo /QUIET", QuietRun, false, false, "C:\\Apps\\Demo", "", ""},
        {"/target=\"C:\\Program Files\\Demo\"/quiet", QuietRun, false, false, "C:\\Program Files\\Demo", "", ""},
        {"/t=\"D:\\a b\" /installset=1", InteractiveRun, false, false, "D:\\a b", "1", ""},
        {"/INSTALLSET=\"Kelvo Demo (minimal)\" /LOG=\"C:\\logs\\setup log.txt\" /PASSIVE", PassiveRun, false, false, "",
         "Kelvo Demo (minimal)", "C:\\logs\\setup log.txt"},
        {"/L=x.log /NORESTART /DEL", InteractiveRun, true, false, "", "", "x.log"},
        // A value option without its '=' makes the line invalid.
        {"/TARGET", InteractiveRun, false, true, "", "", ""},
        {"/QUIET /INSTALLSET 2", QuietRun, false, true, "", "", ""},
        {"/LOG /QUIET", QuietRun, false, true, "", "", ""},
        {"/TARGET=", InteractiveRun, false, false, "", "", ""},
        {"/TARGET=\"", InteractiveRun, false, false, "", "", ""},
        // Peers' silent switches are not ours: /S takes the rest for the archive.
        {"/SILENT", InteractiveRun, false, false, "", "", ""},
        // Parsing still stops at the first word without a switch character.
        {"setup /QUIET", InteractiveRun, false, false, "", "", ""},
    };
    for (const Case& c : cases) {
        CAPTURE(c.line);
        Parsed parsed = Parse(c.line);
        CHECK(parsed.options.mode == c.mode);
        CHECK(parsed.options.noRestart == c.noRestart);
        CHECK(parsed.options.invalid == c.invalid);
        CHECK(std::string(parsed.options.target) == c.target);
        CHECK(std::string(parsed.options.installSet) == c.installSet);
        CHECK(std::string(parsed.options.logFile) == c.log);
    }
    CHECK(Parse("/SILENT").source == "ILENT");
    CHECK(Parse("/DEL /QUIET").deleteSelf);
}

TEST_CASE("a value longer than its buffer is cut and the rest passed over") {
    std::string longPath(400, 'y');
    for (std::string line : {"/TARGET=\"" + longPath + "\" /QUIET", "/TARGET=" + longPath + " /QUIET"}) {
        Parsed parsed = Parse(line.c_str());
        CHECK(std::string(parsed.options.target) == longPath.substr(0, PathCapacity - 1));
        CHECK(parsed.options.mode == QuietRun);
    }
}
