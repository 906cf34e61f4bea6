// The setup program's command line, read natively: every form of the DEL and
// S options, where parsing stops, and lines that end inside an option.
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
};

// Parses `line` from a copy on the heap that holds exactly the line, so
// AddressSanitizer catches any read past its terminator.
Parsed Parse(const char* line) {
    REQUIRE(AllocatePathBuffers());
    CopyPath(SourcePath, OwnFile, PathCapacity);
    std::vector<char> exact(line, line + strlen(line) + 1);
    char* copy = new char[exact.size()];
    memcpy(copy, exact.data(), exact.size());
    Parsed parsed{ReadCommandLine(copy), SourcePath};
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
