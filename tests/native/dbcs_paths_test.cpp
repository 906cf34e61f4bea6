// Paths in a double-byte code page (Shift-JIS, 932): "ソ" is 0x83 0x5C and
// "表" is 0x95 0x5C, so their second byte is a backslash; "ャ" is 0x83 0x61,
// its second byte an 'a'. The path helpers must take each as one character.
#include <doctest/doctest.h>
#include <string.h>

#include <string>
#include <vector>

#include "common/helpers.h"
#include "common/paths.h"
#include "engine/short_paths.h"

#define SO "\x83\x5C"
#define HYO "\x95\x5C"
#define SMALL_YA "\x83\x61"
#define LARGE_A "\x83\x41"

namespace {

// Shift-JIS lead bytes for the length of a test.
struct ShiftJis {
    ShiftJis() {
        static const u8 ranges[] = {0x81, 0x9F, 0xE0, 0xFC, 0};
        SetLeadByteRanges(ranges);
    }
    ~ShiftJis() { SetLeadByteRanges(nullptr); }
};

std::string Shortened(const char* path) {
    std::vector<char> buffer(path, path + strlen(path) + 1);
    ShortenPath(buffer.data(), ProgressItemLimit);
    return buffer.data();
}

// The folders CreateFolderPath enters in turn: the path up to each backslash.
std::vector<std::string> FolderLevels(const char* path) {
    std::vector<std::string> levels;
    for (const char* slash = FirstBackslash(path); slash != nullptr; slash = FirstBackslash(slash + 1))
        levels.emplace_back(path, slash);
    return levels;
}

}  // namespace

TEST_CASE("Shift-JIS paths: separators, trailing backslashes and folder levels") {
    ShiftJis shiftJis;
    struct Case {
        const char* path;
        const char* name;       // after the last backslash
        const char* appended;   // AppendBackslash
        const char* removed;    // RemoveTrailingBackslash
        std::vector<std::string> levels;
    };
    const Case cases[] = {
        {"C:\\" SO "\\" HYO ".txt", HYO ".txt", "C:\\" SO "\\" HYO ".txt\\", "C:\\" SO "\\" HYO ".txt",
         {"C:", "C:\\" SO}},
        {"C:\\" SO, SO, "C:\\" SO "\\", "C:\\" SO, {"C:"}},
        {"C:\\" SO "\\", "", "C:\\" SO "\\", "C:\\" SO, {"C:", "C:\\" SO}},
        {"C:\\Kelvo " HYO "\\" SO SO "\\a" HYO, "a" HYO, "C:\\Kelvo " HYO "\\" SO SO "\\a" HYO "\\",
         "C:\\Kelvo " HYO "\\" SO SO "\\a" HYO, {"C:", "C:\\Kelvo " HYO, "C:\\Kelvo " HYO "\\" SO SO}},
        {SO HYO, SO HYO, SO HYO "\\", SO HYO, {}},
    };
    for (const Case& c : cases) {
        CAPTURE(c.path);
        const char* last = LastBackslash(c.path);
        CHECK(std::string(last != nullptr ? last + 1 : c.path) == c.name);
        CHECK(EndsWithBackslash(c.path) == (c.name[0] == '\0'));
        CHECK(FolderLevels(c.path) == c.levels);
        char buffer[64];
        strcpy(buffer, c.path);
        AppendBackslash(buffer);
        CHECK(std::string(buffer) == c.appended);
        strcpy(buffer, c.path);
        RemoveTrailingBackslash(buffer);
        CHECK(std::string(buffer) == c.removed);
    }
}

TEST_CASE("without lead bytes every byte is a character: 0x5C after 0x83 is a backslash") {
    const char* path = "C:\\" SO "x";
    CHECK(LastBackslash(path) == path + 4);
    CHECK(EndsWithBackslash("C:\\" SO));
}

TEST_CASE("Shift-JIS texts are cut at whole characters") {
    ShiftJis shiftJis;
    struct Case {
        const char* text;
        u32 capacity;
        const char* copied;
    };
    const Case cases[] = {
        {"ab" SO HYO, 4, "ab"},  // "ab" and the lead byte of "ソ" would fit
        {"ab" SO HYO, 5, "ab" SO},
        {"ab" SO HYO, 6, "ab" SO},
        {"ab" SO HYO, 7, "ab" SO HYO},
        {SO, 2, ""},
        {"a", 1, ""},
    };
    for (const Case& c : cases) {
        CAPTURE(c.text);
        CAPTURE(c.capacity);
        char buffer[16];
        memset(buffer, '#', sizeof buffer);
        CopyPath(buffer, c.text, c.capacity);
        CHECK(std::string(buffer) == c.copied);
    }
}

TEST_CASE("Shift-JIS paths shorten at their own backslashes, never inside a character") {
    ShiftJis shiftJis;
    struct Case {
        const char* path;
        const char* shown;
    };
    const Case cases[] = {
        // Byte-wise, the second bytes of "ソ" and "表" would be taken for folders.
        {"C:\\" SO HYO SO HYO SO HYO SO HYO SO HYO SO HYO "\\" HYO "\\" SO ".txt",
         "C:\\...\\" SO ".txt"},
        {"C:\\Program Files\\" SO "\\" HYO "\\Application\\bin\\" HYO SO ".dll",
         "C:\\Program Files\\" SO "\\...\\" HYO SO ".dll"},
        // No backslash of its own but the drive's: nothing to put "..." for.
        {"C:\\" SO SO SO SO SO SO SO SO SO SO SO SO SO SO SO SO ".txt",
         "C:\\" SO SO SO SO SO SO SO SO SO SO SO SO SO SO SO SO ".txt"},
    };
    for (const Case& c : cases) {
        CAPTURE(c.path);
        CHECK(Shortened(c.path) == c.shown);
    }
}

TEST_CASE("case-insensitive comparison folds letters, never the second byte of a character") {
    ShiftJis shiftJis;
    struct Case {
        const char* a;
        const char* b;
        bool same;
    };
    const Case cases[] = {
        {"Setup.EXE", "setup.exe", true},
        {SMALL_YA, LARGE_A, false},  // 'a' and 'A' as second bytes are different characters
        {"x" SMALL_YA "Y", "X" SMALL_YA "y", true},
        {HYO "\\" SO, HYO "\\" SO, true},
        {HYO, SO, false},
        {"ab", "abc", false},
        {"\x83", "\x83", true},
    };
    for (const Case& c : cases) {
        CAPTURE(c.a);
        CAPTURE(c.b);
        CHECK(SameTextIgnoringCase(c.a, c.b) == c.same);
        CHECK(SameTextIgnoringCase(c.b, c.a) == c.same);
    }
}
