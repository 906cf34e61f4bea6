// Operations scheduled for the next restart: the placeholder scan on its own,
// the WININIT.INI lines written on Windows 95/98 (isNt forced off), and the
// NT records Wine keeps in PendingFileRenameOperations.
//
// This runs in the shared Wine prefix, and a later wineserver start there
// would carry out whatever is left scheduled. So every operation names files
// in a scratch folder of this process, WININIT.INI is put back as it was,
// and the NT records this test made are removed again.
#include <windows.h>

#include <doctest/doctest.h>
#include <string.h>

#include <string>
#include <vector>

#include "common/deferred_operations.h"
#include "engine/setup_state.h"
#include "tests/support/guarded_bytes.h"
#include "tests/support/win32_test_files.h"

namespace {

// Files to schedule live here; the blanks make short names differ from long ones.
const char ScratchLabel[] = "kelvo deferred test";

std::string ShortPath(const std::string& path) {
    char shortPath[MAX_PATH];
    DWORD length = GetShortPathNameA(path.c_str(), shortPath, sizeof shortPath);
    REQUIRE(length != 0);
    REQUIRE(length < sizeof shortPath);
    return shortPath;
}

// The non-empty lines of a profile file.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) end = text.size();
        if (end > start) lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// Runs a test as the given platform (isNt) with an empty WININIT.INI in the
// Windows folder; afterwards the file is restored (or removed) and isNt set
// back. The file is emptied rather than deleted because the profile
// functions' cache outlives a deleted file and would bring its lines back.
class PlatformUnderTest {
public:
    explicit PlatformUnderTest(bool nt) : savedIsNt(isNt) {
        char windows[MAX_PATH];
        REQUIRE(GetWindowsDirectoryA(windows, sizeof windows) != 0);
        wininit = std::string(windows) + "\\WININIT.INI";
        existed = GetFileAttributesA(wininit.c_str()) != INVALID_FILE_ATTRIBUTES;
        if (existed) saved = ReadWholeFile(wininit);
        WriteWholeFile(wininit, "");
        isNt = nt;
    }

    ~PlatformUnderTest() {
        isNt = savedIsNt;
        if (existed) {
            WriteWholeFile(wininit, saved);
        } else {
            DeleteFileA(wininit.c_str());
        }
    }

    std::string Wininit() const { return ReadWholeFile(wininit); }

private:
    bool savedIsNt;
    bool existed = false;
    std::string wininit;
    std::string saved;
};

const bool Nt = true;
const bool Windows98 = false;

// The target recorded for `source`, or "(none)" when it has no record. Other
// tests in the prefix may have records of their own.
std::string PendingTarget(const std::vector<std::string>& pending, const std::string& source) {
    for (size_t i = 0; i + 1 < pending.size(); i += 2) {
        if (pending[i] == source) return pending[i + 1];
    }
    return "(none)";
}

}  // namespace

TEST_CASE("the placeholder scan finds the first xyz= line followed by the short source") {
    struct Case {
        const char* name;
        std::string file;
        const char* source;
        u32 expected;
    };
    const Case cases[] = {
        {"first place in file order, even before the section", "xyz=C:\\A\r\n[Rename]\r\nxyz=C:\\A\r\n", "C:\\A", 0},
        {"another source's placeholder is passed over", "[Rename]\r\nxyz=C:\\B\r\nxyz=C:\\A\r\n", "C:\\A", 20},
        {"the value may go on beyond the source", "[Rename]\r\nxyz=C:\\AB\r\n", "C:\\A", 10},
        {"the comparison is case-sensitive", "[Rename]\r\nxyz=c:\\a\r\nXYZ=C:\\A\r\n", "C:\\A", PlaceholderNotFound},
        {"no placeholder", "[Rename]\r\nNUL=C:\\A\r\n", "C:\\A", PlaceholderNotFound},
        {"the last start tried is length - 5", "xyz=A", "A", 0},
        {"a file of 4 bytes is too short", "xyz=", "", PlaceholderNotFound},
        {"a placeholder in the last 4 bytes is not tried", "Axyz=", "", PlaceholderNotFound},
        {"a source longer than what remains", "[Rename]\r\nxyz=C:\\SHORT", "C:\\SHORT~1\\FILE", PlaceholderNotFound},
    };
    for (const Case& c : cases) {
        INFO(std::string(c.name));
        // Zeroed spare bytes behind the file, as ScheduleAtRestart provides.
        std::string data = c.file + std::string(PlaceholderSpare, '\0');
        CHECK(FindPlaceholder(data.data(), static_cast<u32>(c.file.size()), c.source) == c.expected);
    }
}

TEST_CASE("the placeholder scan reads no byte past the spare bytes, however long the source") {
    // The readable area ends where an inaccessible page starts: a read past
    // it is an access violation, not a wrong answer.
    // A file of placeholders, and spare bytes that match too, so only the
    // bound stops the comparison. The last placeholder's value starts at 60
    // and may run to the end of the spare bytes: 516 bytes.
    const u32 length = 64;
    GuardedBytes file(std::vector<u8>(length + PlaceholderSpare, 'A'));
    char* data = reinterpret_cast<char*>(file.data);
    for (u32 i = 0; i + 4 <= length; i += 8) memcpy(data + i, "xyz=", 4);
    struct Case {
        size_t sourceLength;
        u32 expected;
    };
    const Case cases[] = {
        {4, 0},
        {MAX_PATH - 1, 56},  // the longest short path
        {516, 56},
        {517, PlaceholderNotFound},
        {2 * PlaceholderSpare, PlaceholderNotFound},
    };
    for (const Case& c : cases) {
        CAPTURE(c.sourceLength);
        std::string source(c.sourceLength, 'A');
        CHECK(FindPlaceholder(data, length, source.c_str()) == c.expected);
    }
}

TEST_CASE("Windows 95/98: each deletion gets its own NUL line with the short name") {
    ScratchFolder scratch(ScratchLabel);
    std::string first = scratch.Make("first file to delete at restart.txt");
    std::string second = scratch.Make("second file to delete at restart.txt");
    // The names are long, so their short forms differ from them.
    REQUIRE(ShortPath(first) != first);
    REQUIRE(ShortPath(first) != ShortPath(second));

    PlatformUnderTest platform(Windows98);
    ScheduleAtRestart(nullptr, first.c_str());
    ScheduleAtRestart(nullptr, second.c_str());

    const std::vector<std::string> expected = {"[Rename]", "NUL=" + ShortPath(first), "NUL=" + ShortPath(second)};
    CHECK(Lines(platform.Wininit()) == expected);
    // Nothing happens before the restart.
    CHECK(GetFileAttributesA(first.c_str()) != INVALID_FILE_ATTRIBUTES);
}

TEST_CASE("Windows 95/98: a replacement writes one line per target, in short names") {
    ScratchFolder scratch(ScratchLabel);
    std::string target = scratch.Make("installed program file.dll");
    std::string older = scratch.Make("first new copy of the file.tmp");
    std::string newer = scratch.Make("second new copy of the file.tmp");
    std::string removed = scratch.Make("replaced file to delete.tmp");
    REQUIRE(ShortPath(target) != target);

    PlatformUnderTest platform(Windows98);
    ScheduleAtRestart(nullptr, removed.c_str());
    ScheduleAtRestart(target.c_str(), older.c_str());
    // A second replacement of the same target takes over its line.
    ScheduleAtRestart(target.c_str(), newer.c_str());

    const std::vector<std::string> expected = {"[Rename]", "NUL=" + ShortPath(removed),
                                               ShortPath(target) + "=" + ShortPath(newer)};
    CHECK(Lines(platform.Wininit()) == expected);
}

TEST_CASE("NT: operations go to PendingFileRenameOperations, not to WININIT.INI") {
    ScratchFolder scratch(ScratchLabel);
    std::string target = scratch.Make("replaced at restart.dll");
    std::string source = scratch.Make("replacement.tmp");
    std::string doomed = scratch.Make("deleted at restart.tmp");

    PlatformUnderTest platform(Nt);
    ScheduleAtRestart(target.c_str(), source.c_str());
    ScheduleAtRestart(nullptr, doomed.c_str());
    std::vector<std::string> pending = PendingOperations();
    ForgetPendingOperations(scratch.Root());

    CHECK(platform.Wininit().empty());
    // Wine records NT names ("\??\C:\...") with long names as they are; a
    // replacement's target carries a leading "!" (replace existing), and a
    // deletion has an empty target.
    CHECK(PendingTarget(pending, "\\??\\" + source) == "!\\??\\" + target);
    CHECK(PendingTarget(pending, "\\??\\" + doomed) == "");
    // The records are gone again.
    for (const std::string& text : PendingOperations()) CHECK(text.find(scratch.Root()) == std::string::npos);
}

// A rolled-back installation takes back the replacement it left for the
// restart, on either platform, and only that one: another replacement (of
// another product, say) and a deletion stay as they were.
TEST_CASE("a replacement taken back leaves every other operation as it was") {
    for (bool nt : {Nt, Windows98}) {
        CAPTURE(nt);
        ScratchFolder scratch(ScratchLabel);
        std::string target = scratch.Make("taken back target.dll");
        std::string source = scratch.Make("taken back source.tmp");
        std::string otherTarget = scratch.Make("other target.dll");
        std::string otherSource = scratch.Make("other source.tmp");
        std::string doomed = scratch.Make("deleted at restart.tmp");

        PlatformUnderTest platform(nt);
        ScheduleAtRestart(otherTarget.c_str(), otherSource.c_str());
        ScheduleAtRestart(target.c_str(), source.c_str());
        ScheduleAtRestart(nullptr, doomed.c_str());
        CancelAtRestart(target.c_str(), source.c_str());
        if (nt) {
            std::vector<std::string> pending = PendingOperations();
            ForgetPendingOperations(scratch.Root());
            CHECK(PendingTarget(pending, "\\??\\" + source) == "(none)");
            CHECK(PendingTarget(pending, "\\??\\" + otherSource) == "!\\??\\" + otherTarget);
            CHECK(PendingTarget(pending, "\\??\\" + doomed) == "");
        } else {
            const std::vector<std::string> expected = {"[Rename]", ShortPath(otherTarget) + "=" + ShortPath(otherSource),
                                                       "NUL=" + ShortPath(doomed)};
            CHECK(Lines(platform.Wininit()) == expected);
        }
    }
}
