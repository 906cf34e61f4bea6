// Formatting archive texts that carry a number or a path: only the one
// argument the program supplies is ever inserted, whatever the text holds.
#include <doctest/doctest.h>

#include <string>
#include <vector>

#include "archive/texts.h"
#include "engine/short_paths.h"

TEST_CASE("a number goes into the first integer conversion only") {
    struct Case {
        const char* format;
        u32 number;
        const char* expected;
    };
    const Case cases[] = {
        {"%d MB", 12, "12 MB"},
        {"%u MB", 0, "0 MB"},
        {"%lu KB", 4294967295u, "4294967295 KB"},
        {"%i%%", 100, "100%"},
        {"%d of %d", 3, "3 of %d"},
        {"%s and %d", 7, "%s and 7"},  // never reads a string argument
        {"%n%p%x %d", 5, "%n%p%x 5"},
        {"no number", 9, "no number"},
        {"100%", 1, "100%"},
        {"%l", 1, "%l"},
        {"", 1, ""},
    };
    for (const Case& c : cases) {
        CAPTURE(c.format);
        char buffer[MessageCapacity];
        FormatTextWithNumber(buffer, c.format, c.number);
        CHECK(std::string(buffer) == c.expected);
    }
    std::string longFormat(3000, 'x');
    char buffer[MessageCapacity];
    FormatTextWithNumber(buffer, (longFormat + "%d").c_str(), 1);
    CHECK(std::string(buffer) == longFormat.substr(0, MessageCapacity - 1));
}

TEST_CASE("a path goes into the first %s only") {
    char buffer[MessageCapacity];
    FormatTextWithPath(buffer, "Install into %s? %s %d%%", "C:\\App");
    CHECK(std::string(buffer) == "Install into C:\\App?  %d%");
    FormatTextWithPath(buffer, "no path, 50%%", "C:\\App");
    CHECK(std::string(buffer) == "no path, 50%%");
}

TEST_CASE("long paths lose folders in the middle, never the file name") {
    struct Case {
        const char* path;
        const char* shown;
    };
    const Case cases[] = {
        {"C:\\Program Files\\Some Company\\Application\\bin\\file.dll", "C:\\Program Files\\...\\file.dll"},
        {"C:\\WINDOWS\\SYSTEM\\MSVCRT.DLL", "C:\\WINDOWS\\SYSTEM\\MSVCRT.DLL"},
        {"C:\\Program Files\\Accessories\\VeryLongFileNameOfTheProgram.exe",
         "C:\\...\\VeryLongFileNameOfTheProgram.exe"},
        {"C:\\a\\b\\c\\d\\e\\f\\g\\h\\i\\j\\k\\l\\m\\file.txt", "C:\\a\\b\\c\\d\\e\\f\\g\\h\\i\\...\\file.txt"},
        {"no-backslash-in-this-rather-long-file-name.txt", "no-backslash-in-this-rather-long-file-name.txt"},
        {"C:\\abc\\this-file-name-is-long-enough-by-itself.txt", "C:\\...\\this-file-name-is-long-enough-by-itself.txt"},
        {"C:\\ab\\this-file-name-is-long-enough-by-itself.txt", "C:\\ab\\this-file-name-is-long-enough-by-itself.txt"},
        {"", ""},
    };
    for (const Case& c : cases) {
        CAPTURE(c.path);
        std::string text = c.path;
        std::vector<char> buffer(text.begin(), text.end());
        buffer.push_back('\0');
        ShortenPath(buffer.data(), ProgressItemLimit);
        CHECK(std::string(buffer.data()) == c.shown);
    }
}
