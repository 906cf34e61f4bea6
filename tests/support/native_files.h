// Scratch folders and whole-file reads and writes for the native tests.
#pragma once
#include <doctest/doctest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "archive/archive_offset.h"
#include "builder/record_writer.h"
#include "builder/whole_file.h"

// A folder of its own under /tmp, named after `label`, removed with
// everything in it at the end.
struct Scratch {
    std::filesystem::path path;
    explicit Scratch(const std::string& label = "test") {
        std::string pattern = "/tmp/kelvo-" + label + "-XXXXXX";
        REQUIRE(mkdtemp(&pattern[0]) != nullptr);
        path = pattern;
    }
    ~Scratch() { std::filesystem::remove_all(path); }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    // The path of `name` inside the folder.
    std::string operator/(const std::string& name) const { return (path / name).string(); }
    // Subfolder `name`, made anew and empty; returns its path.
    std::string Folder(const std::string& name) const {
        std::filesystem::path folder = path / name;
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        return folder.string();
    }
};

// The whole file; a file that cannot be read fails the test (the reader throws).
inline Bytes ReadBytes(const std::filesystem::path& path) { return ReadWholeFile(path.string()); }

inline std::string ReadText(const std::filesystem::path& path) {
    Bytes bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// Creates or truncates `path` (and the folders above it) to hold `bytes`.
inline void WriteBytes(const std::filesystem::path& path, const Bytes& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    REQUIRE_MESSAGE(out.good(), "cannot write " << path.string());
}

inline void WriteText(const std::filesystem::path& path, const std::string& text) {
    WriteBytes(path, Bytes(text.begin(), text.end()));
}

// A stand-in for the setup program in `folder`, `size` bytes: "MZ", the
// archive-offset marker and its empty slot. Returns its path.
inline std::string FakeStub(const std::filesystem::path& folder, size_t size = 600) {
    Bytes stub(size, 'S');
    stub[0] = 'M';
    stub[1] = 'Z';
    std::copy(ArchiveOffsetMarker, ArchiveOffsetMarker + 6, stub.begin() + 100);
    std::fill(stub.begin() + 106, stub.begin() + 110, 0);
    WriteBytes(folder / "stub.exe", stub);
    return (folder / "stub.exe").string();
}
