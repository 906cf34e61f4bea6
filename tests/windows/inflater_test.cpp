// The decoder in the 32-bit setup program: its narrow bit buffer takes the
// refill path between the parts of a match, which no 64-bit build runs.
#include <windows.h>

#include <doctest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "archive/check_value.h"
#include "archive/inflater.h"
#include "tests/support/win32_test_files.h"

static std::string FixturePath(const char* name) {
    return std::string(KELVO_SOURCE_DIR) + "/tests/fixtures/streams/" + name;
}

TEST_CASE("streams of every block kind decode to their originals") {
    struct Case {
        const char* stream;
        const char* original;
    };
    const Case cases[] = {
        {"mixed-l0.kz", "mixed.bin"},  // stored blocks
        {"mixed-l1.kz", "mixed.bin"},  // dynamic codes, fast matches
        {"mixed-l9.kz", "mixed.bin"},  // dynamic codes, long matches
        {"short.kz", "short.txt"},     // fixed codes
    };
    for (const Case& c : cases) {
        CAPTURE(c.stream);
        std::vector<u8> original = ReadWholeFileBytes(FixturePath(c.original));
        FileHandle input = OpenExistingFile(FixturePath(c.stream).c_str(), OpenRead);
        REQUIRE(input != NoFile);

        std::vector<u8> output(original.size() + 16, 0xCC);
        InflateSource source = FileInflateSource(&input, 0);
        u32 produced = 0;
        CHECK(InflateToMemory(output.data(), static_cast<u32>(original.size()), source, &produced));
        CHECK(produced == original.size());
        CHECK(std::equal(original.begin(), original.end(), output.begin()));
        CHECK(output[original.size()] == 0xCC);  // nothing past the buffer
        CHECK(SeekFile(input, 0, SeekFromCurrent) == FileSize(input));
        CloseFile(input);
    }
}

TEST_CASE("InflateToFile writes the decoded contents from a limited input") {
    std::vector<u8> original = ReadWholeFileBytes(FixturePath("mixed.bin"));
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    std::string outputPath = std::string(folder) + "kelvo-inflated.tmp";
    FileHandle input = OpenExistingFile(FixturePath("mixed-l9.kz").c_str(), OpenRead);
    FileHandle output = CreateNewFile(outputPath.c_str());
    REQUIRE(input != NoFile);
    REQUIRE(output != NoFile);
    InflateSource source = FileInflateSource(&input, FileSize(input));
    CHECK(InflateToFile(output, source));
    CloseFile(output);
    CloseFile(input);

    output = OpenExistingFile(outputPath.c_str(), OpenRead);
    REQUIRE(output != NoFile);
    u32 value = 0;
    CHECK(FileSize(output) == original.size());
    CHECK(CheckFile(output, &value));
    CHECK(value == RotateAddCheck(original.data(), static_cast<u32>(original.size()), 0));
    CloseFile(output);
    DeleteFileA(outputPath.c_str());
}
