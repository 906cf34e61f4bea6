#include <doctest/doctest.h>
#include <stdio.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "archive/check_value.h"
#include "tests/support/native_files.h"

TEST_CASE("RotateAddCheck matches the worked examples") {
    struct Case {
        std::vector<u8> data;
        u32 expected;
    };
    const Case cases[] = {
        {{}, 0x00000000},
        {{'a', 'b', 'c'}, 0x000002AB},
        {{'a', 'b', 'c', 'd'}, 0x64636261},
        {{'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'}, 0x312E2B27},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0x000000FE},
    };
    for (const Case& c : cases) {
        CAPTURE(c.data.size());
        CHECK(RotateAddCheck(c.data.data(), static_cast<u32>(c.data.size()), 0) == c.expected);
    }
}

TEST_CASE("RotateAddCheck carried over pieces of whole words equals one pass") {
    std::vector<u8> data(40000);
    for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<u8>(i * 131 + (i >> 7));
    u32 whole = RotateAddCheck(data.data(), 40000, 0);
    u32 a = RotateAddCheck(data.data(), 16384, 0);
    a = RotateAddCheck(data.data() + 16384, 16384, a);
    a = RotateAddCheck(data.data() + 32768, 7232, a);
    CHECK(a == whole);
}

TEST_CASE("CheckFile reads in blocks and gives the value of the whole contents") {
    for (u32 size : {0u, 3u, 16384u, 40000u, 65537u}) {
        CAPTURE(size);
        std::vector<u8> data(size);
        for (u32 i = 0; i < size; i++) data[i] = static_cast<u8>(i ^ (i >> 9));
        Scratch scratch("check");
        WriteBytes(scratch / "file", data);
        FileHandle handle = OpenExistingFile((scratch / "file").c_str(), OpenRead);
        REQUIRE(handle != NoFile);
        u32 value = 1;
        CHECK(CheckFile(handle, &value));
        CHECK(value == RotateAddCheck(data.data(), size, 0));
        CloseFile(handle);
    }
}

TEST_CASE("CheckFile reports a file it cannot read to the end as unreadable") {
    Scratch scratch("check");
    WriteBytes(scratch / "file", Bytes(40000, 7));
    // A handle opened for writing only: the size can be told, every read fails.
    {
        FileHandle handle = OpenExistingFile((scratch / "file").c_str(), OpenWrite);
        REQUIRE(handle != NoFile);
        u32 value;
        CHECK_FALSE(CheckFile(handle, &value));
        CloseFile(handle);
    }
}
