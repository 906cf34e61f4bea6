// Scratch folders and whole-file reads and writes for the native tests.
#pragma once
#include <doctest/doctest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <algorithm>
#include <string>

#include "archive/archive_offset.h"
#include "builder/record_writer.h"
#include "builder/whole_file.h"

// A folder of its own under /tmp, removed with everything in it at the end.
struct Scratch {
    std::filesystem::path path;
    explicit Scratch(const std::string& label) {
        std::string pattern = "/tmp/kelvo-" + label + "-XXXXXX";
        REQUIRE(mkdtemp(&pattern[0]) != nullptr);
        path = pattern;
    }
    ~Scratch() { std::filesystem::remove_all(path); }
};

inline Bytes ReadBytes(const std::filesystem::path& path) { return ReadWholeFile(path.string()); }

inline void WriteBytes(const std::filesystem::path& path, const Bytes& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline void WriteText(const std::filesystem::path& path, const std::string& text) {
    WriteBytes(path, Bytes(text.begin(), text.end()));
}

// A stand-in for the setup program in `folder`: the archive-offset marker
// and its empty slot. Returns its path.
inline std::string FakeStub(const std::filesystem::path& folder) {
    Bytes stub(600, 'S');
    std::copy(ArchiveOffsetMarker, ArchiveOffsetMarker + 6, stub.begin() + 100);
    std::fill(stub.begin() + 106, stub.begin() + 110, 0);
    WriteBytes(folder / "stub.exe", stub);
    return (folder / "stub.exe").string();
}
