// One file entry from the file data to its place, under Wine: temporary
// names, decoded, copied and uninstaller contents with their check values,
// delta entries command by command, the version and language questions, and
// the replacement of existing, locked and system files.
//
// Archives are put together in memory with their contents in stored blocks,
// and files live in a scratch folder of this process. Read-only destinations
// need Wine run as an ordinary user: extraction_user_test.cpp.
#include <windows.h>

#include <doctest/doctest.h>

#include <string>
#include <vector>

#include "archive/file_data.h"
#include "common/paths.h"
#include "engine/extraction.h"
#include "engine/setup_state.h"
#include "tests/support/message_boxes.h"
#include "tests/support/test_archive.h"
#include "tests/support/win32_test_files.h"
#include "wizard/page_loop.h"
#include "wizard/progress.h"

namespace {

const char ScratchLabel[] = "kelvo extraction test";

// The path buffers and a clean engine state for one test.
class Engine {
public:
    Engine() {
        REQUIRE(AllocatePathBuffers());
        ResetSetupState();
        SetProgressPage(nullptr);
    }
    ~Engine() { ReleasePathBuffers(); }
};

void SetWorkPath(const std::string& path) { CopyPath(WorkPath, path.c_str(), WorkPathCapacity); }

// Names of the temporary files (".$" in their extension) left in `folder`.
std::vector<std::string> TemporaryFiles(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*.$*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do names.push_back(found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

// Bytes that differ from position to position, so a copy from the wrong
// place never matches.
std::vector<u8> Pattern(size_t size, u32 seed) {
    std::vector<u8> bytes(size);
    u32 x = seed * 2654435761u + 1;
    for (u8& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<u8>(x >> 16);
    }
    return bytes;
}

FileTimes SomeTimes() {
    FileTimes times;
    const u64 values[3] = {125000000000000000ull, 126000000000000000ull, 127000000000000000ull};
    u32* slots[3] = {times.creation, times.lastAccess, times.lastWrite};
    for (int i = 0; i < 3; i++) {
        slots[i][0] = static_cast<u32>(values[i]);
        slots[i][1] = static_cast<u32>(values[i] >> 32);
    }
    return times;
}

u64 Ticks(const FILETIME& time) { return (static_cast<u64>(time.dwHighDateTime) << 32) | time.dwLowDateTime; }

// ---------------------------------------------------------------------------
// Delta streams

enum StreamForm : u8 { RawStream = 0, CompressedStream = 1, WideSize = 2, WideStoredSize = 4 };

void PutNumber(std::vector<u8>& out, u32 value, bool wide) {
    for (int i = 0; i < (wide ? 4 : 2); i++) out.push_back(static_cast<u8>(value >> (8 * i)));
}

// One framed delta stream; an empty one is only its flags and size.
std::vector<u8> DeltaStreamBytes(const std::vector<u8>& bytes, u8 form) {
    std::vector<u8> out;
    out.push_back(form);
    PutNumber(out, static_cast<u32>(bytes.size()), form & WideSize);
    if (bytes.empty()) return out;
    if (form & CompressedStream) {
        std::vector<u8> packed = StoredStream(bytes, 1000);
        PutNumber(out, static_cast<u32>(packed.size()), form & WideStoredSize);
        out.insert(out.end(), packed.begin(), packed.end());
    } else {
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    return out;
}

std::vector<u8> DeltaData(const std::vector<u8>& commands, const std::vector<u8>& literals, u8 form = RawStream) {
    std::vector<u8> data = DeltaStreamBytes(commands, form);
    std::vector<u8> second = DeltaStreamBytes(literals, form);
    data.insert(data.end(), second.begin(), second.end());
    return data;
}

const std::string Literals = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

// What a delta should produce, piece by piece: literal bytes taken in order,
// or a run of the base file.
struct Piece {
    bool literal;
    u32 from;
    u32 count;
};
Piece L(u32 count) { return {true, 0, count}; }
Piece B(u32 from, u32 count) { return {false, from, count}; }

std::vector<u8> Expected(const std::vector<u8>& base, const std::vector<Piece>& pieces) {
    std::vector<u8> out;
    size_t literal = 0;
    for (const Piece& p : pieces) {
        if (p.literal) {
            out.insert(out.end(), Literals.begin() + literal, Literals.begin() + literal + p.count);
            literal += p.count;
        } else {
            out.insert(out.end(), base.begin() + p.from, base.begin() + p.from + p.count);
        }
    }
    return out;
}

// A base file and a delta entry that turns it into `result`, ready for
// ApplyDelta; the entry is number 0 of set 0.
class DeltaSetup {
public:
    DeltaSetup(const std::vector<u8>& base, const std::vector<u8>& data, const std::vector<u8>& result,
               u8 flags = DeltaEntry)
        : scratch(ScratchLabel), archive(scratch.Path("setup.exe")) {
        basePath = scratch.Path("file.dat");
        WriteWholeFile(basePath, base);
        TestFileEntry entry;
        entry.name = "file.dat";
        entry.flags = flags;
        entry.times = SomeTimes();
        entry.dataOffset = archive.AddData(data);
        entry.storedSize = static_cast<u32>(data.size());
        entry.size = static_cast<u32>(result.size());
        entry.checkValue = CheckValueOf(result);
        archive.AddEntry(entry);
        archive.Open();
        SetWorkPath(scratch.Path("installed\\file.dat"));
    }
    bool Apply(u32 start = 0, u32 end = 0) {
        return ApplyDelta(archive.Entry(0), basePath.c_str(), start, end);
    }

    ScratchFolder scratch;
    TestArchive archive;
    std::string basePath;
};

const std::vector<u8> DeltaBase = Pattern(70000, 7);

}  // namespace

// ---------------------------------------------------------------------------
// Temporary names and plain entries

TEST_CASE("the temporary file takes the destination's name with .$$A, counting up past taken names") {
    struct Case {
        const char* destination;
        std::vector<const char*> taken;
        const char* expected;
    };
    const Case cases[] = {
        {"app.exe", {}, "app.$$A"},
        {"README", {}, "README.$$A"},
        {"archive.tar.gz", {}, "archive.tar.$$A"},
        {"v1.2\\notes", {}, "v1.2\\notes.$$A"},  // a dot in a folder's name is no extension
        {"app.exe", {"app.$$A"}, "app.$$B"},
        {"app.exe", {"app.$$A", "app.$$B", "app.$$C"}, "app.$$D"},
    };
    for (const Case& c : cases) {
        INFO(c.destination);
        Engine engine;
        ScratchFolder scratch(ScratchLabel);
        scratch.Folder("v1.2");
        for (const char* name : c.taken) scratch.Make(name, "someone else's");
        TestArchive archive(scratch.Path("setup.exe"));
        archive.AddEntry(archive.PackedFile(c.destination, TestBytes("new contents")));
        archive.Open();
        SetWorkPath(scratch.Path(c.destination));

        CHECK(ProduceEntryContents(archive.Entry(0), 0, 100));
        CloseScratchFile();  // the file stays open for its move into place
        CHECK(engineState == NoEngineError);
        CHECK(std::string(ScratchPath) == scratch.Path(c.expected));
        CHECK(ReadWholeFile(ScratchPath) == "new contents");
        for (const char* name : c.taken) CHECK(ReadWholeFile(scratch.Path(name)) == "someone else's");
        CHECK_FALSE(FileExists(scratch.Path(c.destination)));  // the destination is not written here
    }
}

TEST_CASE("an entry's data is decoded whole, across stored blocks, and gets the entry's file times") {
    struct Case {
        const char* name;
        u8 flags;
        size_t size;
    };
    const Case cases[] = {
        {"no times", 0, 70000},
        {"times", HasFileTimes, 100},
        {"times behind a version block", VersionRule | LanguageRule | HasFileTimes, 3},
        {"an empty file", HasFileTimes, 0},
    };
    for (const Case& c : cases) {
        INFO(c.name);
        Engine engine;
        ScratchFolder scratch(ScratchLabel);
        TestArchive archive(scratch.Path("setup.exe"));
        archive.AddData(Pattern(123, 1));  // the entry does not start the stream
        std::vector<u8> contents = Pattern(c.size, 2);
        TestFileEntry entry = archive.PackedFile("data.bin", contents);
        entry.flags = c.flags;
        entry.times = SomeTimes();
        archive.AddEntry(entry);
        archive.Open();
        SetWorkPath(scratch.Path("data.bin"));

        REQUIRE(ProduceEntryContents(archive.Entry(0), 0, 100));
        CloseScratchFile();  // the file stays open for its move into place
        CHECK(ReadWholeFileBytes(ScratchPath) == contents);
        HANDLE file = CreateFileA(ScratchPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        REQUIRE(file != INVALID_HANDLE_VALUE);
        FILETIME written;
        GetFileTime(file, nullptr, nullptr, &written);
        CloseHandle(file);
        // Wine keeps no creation time of its own, and the check that reads
        // the file moves its access time: the last write time is the one
        // that shows.
        if (c.flags & HasFileTimes) {
            CHECK(Ticks(written) == 127000000000000000ull);
        } else {
            CHECK(Ticks(written) != 127000000000000000ull);
        }
    }
}

TEST_CASE("contents that fail their check or cannot be read end the entry and leave the destination alone") {
    struct Case {
        const char* name;
        u32 flip;         // index of a byte of the stored data whose low bit flips, or NoFlip
        u32 offsetShift;  // moves the entry's data offset
        i32 state;
    };
    const u32 NoFlip = ~0u;
    const Case cases[] = {
        {"a flipped byte of the contents", 200, 0, CheckValueMismatch},
        {"a broken block header", 0, 0, CheckValueMismatch},
        {"data beyond the file data, in a volume that is not there", NoFlip, 100000, FileDataDamaged},
    };
    for (const Case& c : cases) {
        INFO(c.name);
        Engine engine;
        ScratchFolder scratch(ScratchLabel);
        std::string destination = scratch.Make("app.dll", "the old file");
        TestArchive archive(scratch.Path("setup.exe"));
        std::vector<u8> contents = Pattern(1000, 3);
        std::vector<u8> packed = StoredStream(contents);
        if (c.flip != NoFlip) packed[c.flip] ^= 0x01;
        TestFileEntry entry = archive.PackedFile("app.dll", contents);
        entry.dataOffset = archive.AddData(packed) + c.offsetShift;
        archive.AddEntry(entry);
        archive.Open();
        SetWorkPath(destination);

        CHECK_FALSE(ProduceEntryContents(archive.Entry(0), 0, 100));
        CHECK(engineState == c.state);
        if (c.state == CheckValueMismatch) {
            CHECK(std::string(MessagePath) == destination);
            // The driver deletes the temporary file this names.
            CHECK(std::string(ScratchPath) == scratch.Path("app.$$A"));
        } else {
            CHECK(std::string(MessagePath) == scratch.Path("setup.D01"));
        }
        CHECK(ReadWholeFile(destination) == "the old file");
    }
}

namespace {

bool DeclineDisk(u32) {
    pageResult = PageCancelled;
    return false;
}

}  // namespace

TEST_CASE("a declined disk ends the entry with 15") {
    Engine engine;
    ScratchFolder scratch(ScratchLabel);
    TestArchive archive(scratch.Path("setup.exe"));
    TestFileEntry entry = archive.PackedFile("big.bin", Pattern(9000, 4));
    archive.AddEntry(entry);
    archive.DeclareLength(5000);  // the rest would be on the next disk
    archive.Open(true);
    askForVolume = DeclineDisk;
    SetWorkPath(scratch.Path("big.bin"));

    CHECK_FALSE(ProduceEntryContents(archive.Entry(0), 0, 100));
    CHECK(engineState == InstallationDeclined);
}

TEST_CASE("a temporary file that cannot be created is 17, and its name is not left for the driver to delete") {
    Engine engine;
    ScratchFolder scratch(ScratchLabel);
    TestArchive archive(scratch.Path("setup.exe"));
    archive.AddEntry(archive.PackedFile("app.exe", TestBytes("x")));
    archive.Open();
    SetWorkPath(scratch.Path("no such folder\\app.exe"));

    CHECK_FALSE(ProduceEntryContents(archive.Entry(0), 0, 100));
    CHECK(engineState == CannotCreateFile);
    CHECK(std::string(MessagePath) == scratch.Path("no such folder\\app.$$A"));
    CHECK(std::string(ScratchPath).empty());
}

TEST_CASE("a file beside the setup program is copied, made writable, and not checked") {
    Engine engine;
    ScratchFolder scratch(ScratchLabel);
    std::string source = scratch.Make("manual.txt", "read the manual");
    REQUIRE(SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_READONLY));
    TestArchive archive(scratch.Path("setup.exe"));
    TestFileEntry entry;
    entry.name = "manual.txt";
    entry.flags = CopiedFromSetupFolder;
    entry.checkValue = 12345;  // never compared
    archive.AddEntry(entry);
    entry.name = "missing.txt";
    archive.AddEntry(entry);
    archive.Open();
    std::string installed = scratch.Folder("installed");

    SetWorkPath(installed + "\\manual.txt");
    REQUIRE(ProduceEntryContents(archive.Entry(0), 0, 100));
    CHECK(std::string(ScratchPath) == installed + "\\manual.$$A");
    CHECK(ReadWholeFile(ScratchPath) == "read the manual");
    CHECK((GetFileAttributesA(ScratchPath) & FILE_ATTRIBUTE_READONLY) == 0);

    SetWorkPath(installed + "\\missing.txt");
    CHECK_FALSE(ProduceEntryContents(archive.Entry(1), 0, 100));
    CHECK(engineState == CopyFromSourceFailed);
    CHECK(systemError == ERROR_FILE_NOT_FOUND);
    CHECK(std::string(MessagePath) == "missing.txt");
}

TEST_CASE("the uninstaller is its prefix block and its data, and is not checked") {
    for (bool withPrefix : {true, false}) {
        CAPTURE(withPrefix);
        Engine engine;
        ScratchFolder scratch(ScratchLabel);
        TestArchive archive(scratch.Path("setup.exe"));
        std::vector<u8> prefix = Pattern(5000, 5);
        if (withPrefix) archive.SetPrefix(prefix);
        TestFileEntry entry = archive.PackedFile("uninstall.exe", TestBytes("entry data"));
        entry.flags = UninstallerEntry | HasFileTimes;
        entry.times = SomeTimes();
        entry.checkValue ^= 1;  // a wrong value does not matter
        archive.AddEntry(entry);
        archive.Open();
        SetWorkPath(scratch.Path("uninstall.exe"));

        REQUIRE(ProduceEntryContents(archive.Entry(0), 0, 100));
        CloseScratchFile();  // the file stays open for its move into place
        std::vector<u8> expected = withPrefix ? prefix : std::vector<u8>();
        std::vector<u8> data = TestBytes("entry data");
        expected.insert(expected.end(), data.begin(), data.end());
        CHECK(ReadWholeFileBytes(ScratchPath) == expected);
    }
}

// ---------------------------------------------------------------------------
// Delta entries

TEST_CASE("every delta command and distance form builds the expected file") {
    struct Case {
        const char* name;
        std::vector<u8> commands;
        std::vector<Piece> pieces;
    };
    const Case cases[] = {
        {"0x85 writes six literal bytes", {0x85}, {L(6)}},
        {"0x9F writes 32 literal bytes", {0x9F}, {L(32)}},
        {"0xA3 writes one literal byte, then copies 5 (0x9F: 31)", {0xA3, 0x9F}, {L(1), B(31, 5)}},
        {"0xFF writes three literal bytes, then copies 33 (0x80: 0)", {0xFF, 0x80}, {L(3), B(0, 33)}},
        {"0x05 copies 6; 0xBF goes back 1", {0x05, 0x9F, 0x05, 0xBF}, {B(31, 6), B(36, 6)}},
        {"0xA0 goes back 32", {0x05, 0x00, 0x30, 0x05, 0xA0}, {B(80, 6), B(54, 6)}},
        {"0x00 0x00 0x01 copies 385; 0x00 0x00 is 32", {0x00, 0x00, 0x01, 0x00, 0x00}, {B(32, 385)}},
        {"0x00 0xFF 0xFF copies 65,664", {0x00, 0xFF, 0xFF, 0x80}, {B(0, 65664)}},
        {"0x7F copies 128; 0x3F 0xFF is 16,415", {0x7F, 0x3F, 0xFF}, {B(16415, 128)}},
        {"0x7F 0xFF goes back 33", {0x05, 0x00, 0x40, 0x01, 0x7F, 0xFF}, {B(96, 6), B(69, 2)}},
        {"0xC0 0x00 0x00 is 16,416", {0x01, 0xC0, 0x00, 0x00}, {B(16416, 2)}},
        {"0xFF 0xFF 0xFF goes back 16,417", {0x01, 0xC0, 0x00, 0x10, 0x01, 0xFF, 0xFF, 0xFF},
         {B(16432, 2), B(17, 2)}},
        {"seven bytes: 256 ahead is 16,672", {0x01, 0xD0, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00}, {B(16672, 2)}},
        {"seven bytes: 256 back is -16,672",
         {0x01, 0xD0, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x01, 0xD0, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x00},
         {B(20512, 2), B(3842, 2)}},
        {"copies continue where the last one ended; literals do not move them",
         {0x05, 0x80, 0x81, 0x05, 0x80}, {B(0, 6), L(2), B(6, 6)}},
        {"no commands: an empty file", {}, {}},
    };
    for (const Case& c : cases) {
        INFO(c.name);
        Engine engine;
        std::vector<u8> result = Expected(DeltaBase, c.pieces);
        DeltaSetup delta(DeltaBase, DeltaData(c.commands, TestBytes(Literals)), result);

        CHECK(delta.Apply());
        CHECK(engineState == NoEngineError);
        CHECK(ReadWholeFileBytes(delta.basePath) == result);  // the result takes the base's name
        CHECK(TemporaryFiles(delta.scratch.Root()).empty());
    }
}

TEST_CASE("delta streams are read raw or compressed, with 16- or 32-bit sizes") {
    // Literals and copies both, with a literal stream long enough to need
    // several stored blocks.
    std::vector<u8> commands;
    std::vector<Piece> pieces;
    for (int i = 0; i < 100; i++) {
        commands.insert(commands.end(), {0x9F, 0x7F, 0x80});  // 32 literals, 128 bytes on
        pieces.push_back(L(32));
        pieces.push_back(B(128 * i, 128));
    }
    std::string longLiterals;
    for (int i = 0; i < 100; i++) longLiterals += Literals.substr(0, 32);
    const u8 forms[] = {RawStream,
                        WideSize,
                        CompressedStream,
                        CompressedStream | WideSize,
                        CompressedStream | WideStoredSize,
                        CompressedStream | WideSize | WideStoredSize};
    for (u8 form : forms) {
        CAPTURE(int(form));
        Engine engine;
        std::vector<u8> result;
        size_t literal = 0;
        for (const Piece& p : pieces) {
            if (p.literal) {
                result.insert(result.end(), longLiterals.begin() + literal, longLiterals.begin() + literal + p.count);
                literal += p.count;
            } else {
                result.insert(result.end(), DeltaBase.begin() + p.from, DeltaBase.begin() + p.from + p.count);
            }
        }
        DeltaSetup delta(DeltaBase, DeltaData(commands, TestBytes(longLiterals), form), result);
        CHECK(delta.Apply());
        CHECK(ReadWholeFileBytes(delta.basePath) == result);
    }

    SUBCASE("an empty literal stream serves a delta of copies only") {
        Engine engine;
        std::vector<u8> result(DeltaBase.begin() + 100, DeltaBase.begin() + 110);
        DeltaSetup delta(DeltaBase, DeltaData({0x09, 0x00, 0x44}, {}), result);
        CHECK(delta.Apply());
        CHECK(ReadWholeFileBytes(delta.basePath) == result);
    }
}

namespace {

std::vector<u32> progressSteps;
void NoteProgress(u32 percent) { progressSteps.push_back(percent); }

}  // namespace

TEST_CASE("a delta moves the progress bar within its range as its output grows") {
    // Copies of 10,000 bytes (0x00 0x8F 0x26, distance 0x80: go on), with a
    // literal byte after the first that changes nothing on the bar.
    const std::vector<u8> copy = {0x00, 0x8F, 0x26, 0x80};
    std::vector<u8> commands;
    for (int i = 0; i < 5; i++) {
        commands.insert(commands.end(), copy.begin(), copy.end());
        if (i == 0) commands.push_back(0x80);
    }
    std::vector<u8> result = Expected(DeltaBase, {B(0, 10000), L(1), B(10000, 40000)});
    struct Case {
        const char* name;
        u32 start, end;
        u32 size;  // the entry's size, from which the steps are counted
        std::vector<u32> steps;
    };
    const Case cases[] = {
        // Six steps of 10,000 bytes in 50,001: 10 + n * 10 / 6.
        {"10 to 20 percent", 10, 20, 50001, {13, 15, 16, 18, 20}},
        {"an entry without a range", 30, 30, 50001, {}},
        // Output beyond the entry's size never passes the end of its range.
        {"more output than the entry's size", 0, 50, 10000, {50}},
    };
    void (*saved)(u32) = showDeltaProgress;
    showDeltaProgress = NoteProgress;
    for (const Case& c : cases) {
        INFO(c.name);
        Engine engine;
        DeltaSetup delta(DeltaBase, DeltaData(commands, TestBytes(Literals)), result);
        delta.archive.Entry(0)->size = c.size;
        progressSteps.clear();
        CHECK(delta.Apply(c.start, c.end));
        CHECK(progressSteps == c.steps);
    }
    showDeltaProgress = saved;
}

TEST_CASE("a damaged delta fails with a clear state, reads nothing outside its streams and leaves no files") {
    enum Names { NamesArchive, NamesWorkPath, NamesOutput };
    struct Case {
        const char* name;
        std::vector<u8> data;
        i32 state;
        Names names;
    };
    const std::vector<u8> three = TestBytes("abc");
    const Case cases[] = {
        {"literals beyond the literal stream", DeltaData({0x85}, three), FileDataDamaged, NamesArchive},
        {"a second run beyond the literal stream", DeltaData({0x82, 0x80}, three), FileDataDamaged, NamesArchive},
        {"literals from an empty literal stream", DeltaData({0x80}, {}), CannotWriteFile, NamesOutput},
        {"a long copy without its count", DeltaData({0x00, 0x01}, three), FileDataDamaged, NamesArchive},
        {"a copy without its distance", DeltaData({0x05}, three), FileDataDamaged, NamesArchive},
        {"a two-byte distance cut short", DeltaData({0x05, 0x00}, three), FileDataDamaged, NamesArchive},
        {"a three-byte distance cut short", DeltaData({0x05, 0xC0, 0x00}, three), FileDataDamaged, NamesArchive},
        {"a seven-byte distance cut short", DeltaData({0x05, 0xD0, 0x00, 0x00, 0x00, 0x00, 0x01}, three),
         FileDataDamaged, NamesArchive},
        {"a copy before the base's start", DeltaData({0x05, 0xBF}, three), FileDataDamaged, NamesWorkPath},
        {"a far copy before the base's start", DeltaData({0x05, 0xE0, 0x00, 0x00}, three), FileDataDamaged,
         NamesWorkPath},
        {"a copy past the base's end", DeltaData({0x00, 0xFF, 0xFF, 0x00, 0x10}, three), FileDataDamaged,
         NamesWorkPath},
        {"a copy far past the base's end", DeltaData({0x05, 0xD0, 0x00, 0x00, 0x7F, 0xFF, 0xFF, 0xFF}, three),
         FileDataDamaged, NamesWorkPath},
        {"a raw stream longer than the file data", {0x00, 0x10, 0x00, 0x85}, FileDataDamaged, NamesArchive},
        {"a compressed stream that decodes short", {0x01, 0x10, 0x00, 0x06, 0x00, 0x0F, 0x03, 0x00, 0x85, 0x85, 0x85},
         FileDataDamaged, NamesArchive},
        {"a result that fails its check", DeltaData({0x85}, TestBytes("abcdeX")), CheckValueMismatch, NamesWorkPath},
    };
    const std::vector<u8> expected = TestBytes("abcdef");
    for (const Case& c : cases) {
        INFO(c.name);
        Engine engine;
        std::vector<u8> base = Pattern(1000, 9);
        DeltaSetup delta(base, c.data, expected);

        CHECK_FALSE(delta.Apply());
        CHECK(engineState == c.state);
        const std::string named[] = {ArchivePath, WorkPath, delta.scratch.Path("file.$AA")};
        CHECK(std::string(MessagePath) == named[c.names]);
        CHECK(ReadWholeFileBytes(delta.basePath) == base);  // the base is left as it was
        CHECK(TemporaryFiles(delta.scratch.Root()).empty());
    }
}

TEST_CASE("a delta entry is built from its base entry, decoded or copied, and its base is checked first") {
    std::vector<u8> base = Pattern(3000, 11);
    std::vector<u8> result = Expected(base, {L(6), B(1000, 128)});
    // Six literal bytes, then 128 bytes from 1,000 (two-byte distance t = 968).
    std::vector<u8> deltaData = DeltaData({0x85, 0x7F, 0x03, 0xC8}, TestBytes(Literals));

    struct Case {
        const char* name;
        bool baseBesideSetup;
        bool baseDamaged;
        bool deltaDamaged;
        i32 state;
    };
    const Case cases[] = {
        {"a base from the file data, in another set", false, false, false, NoEngineError},
        {"a base beside the setup program", true, false, false, NoEngineError},
        {"a base that fails its check", false, true, false, CheckValueMismatch},
        {"a delta that copies from before the base's start", false, false, true, FileDataDamaged},
    };
    for (const Case& c : cases) {
        INFO(c.name);
        Engine engine;
        ScratchFolder scratch(ScratchLabel);
        TestArchive archive(scratch.Path("setup.exe"));
        TestFileEntry baseEntry = archive.PackedFile("old.dat", base);
        if (c.baseBesideSetup) {
            baseEntry.flags = CopiedFromSetupFolder;
            scratch.Make("old.dat", std::string(base.begin(), base.end()));
        }
        if (c.baseDamaged) baseEntry.checkValue ^= 1;
        archive.AddEntry(archive.PackedFile("other.dat", TestBytes("other")), 1);
        u32 baseIndex = archive.AddEntry(baseEntry, 1);
        std::vector<u8> data = c.deltaDamaged ? DeltaData({0x85, 0x7F, 0x7F, 0xFF}, TestBytes(Literals)) : deltaData;
        TestFileEntry entry;
        entry.name = "new.dat";
        entry.flags = DeltaEntry;
        entry.dataOffset = archive.AddData(data);
        entry.storedSize = static_cast<u32>(data.size());
        entry.size = static_cast<u32>(result.size());
        entry.checkValue = CheckValueOf(result);
        entry.baseSet = 1;
        entry.baseIndex = baseIndex;
        archive.AddEntry(entry);
        archive.Open();
        std::string installed = scratch.Folder("installed");
        SetWorkPath(installed + "\\new.dat");

        CHECK(ProduceEntryContents(archive.Entry(0), 0, 100) == (c.state == NoEngineError));
        CHECK(engineState == c.state);
        CHECK(std::string(ScratchPath) == installed + "\\new.$$A");
        if (c.state == NoEngineError) {
            CHECK(ReadWholeFileBytes(ScratchPath) == result);
        } else {
            CHECK(std::string(MessagePath) == std::string(WorkPath));
            // The base stays in the temporary file, which the driver
            // deletes; the delta's own output is gone already.
            CHECK(ReadWholeFileBytes(ScratchPath) == base);
        }
        std::vector<std::string> left = TemporaryFiles(installed);
        CHECK(left == std::vector<std::string>{"new.$$A"});
    }
}

// ---------------------------------------------------------------------------
// Version and language rules

namespace {

std::string VersionedLibrary(int number) {
    std::string path = std::string(KELVO_VERSIONED_FIXTURES) + "/kelvo-versioned-" + std::to_string(number) + ".dll";
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

// Library 1 is 1.2.3.4 in US English (0x0409), library 2 is 2.0.0.0 in German (0x0407).
const u32 Version1High = 0x00010002, Version1Low = 0x00030004;
const u32 English = 0x0409, German = 0x0407;

}  // namespace

// "library.dll" with the version rules `flags` and the version and language
// it would install.
static TestFileEntry VersionedEntry(u8 flags, u32 high, u32 low, u32 language) {
    TestFileEntry entry;
    entry.name = "library.dll";
    entry.flags = flags;
    entry.version.versionHigh = high;
    entry.version.versionLow = low;
    entry.version.language = language;
    return entry;
}

TEST_CASE("the version and language rules ask before an existing newer or foreign file is replaced") {
    const char* const NoQuestion = nullptr;
    struct Case {
        const char* name;
        std::string existing;  // "" for none, or a file to copy to WorkPath
        u8 flags;
        u32 high, low, language;
        int answer;
        const char* question;  // the start of the message asked, or none
        bool write;
    };
    const std::string text = "text file";
    const Case cases[] = {
        {"no file there", "", VersionRule | LanguageRule, 0, 0, German, IDNO, NoQuestion, true},
        {"a file without version information", text, VersionRule | LanguageRule, 0, 0, German, IDNO, NoQuestion, true},
        {"the same version", VersionedLibrary(1), VersionRule, Version1High, Version1Low, English, IDNO, NoQuestion,
         true},
        {"an older file", VersionedLibrary(1), VersionRule, Version1High, Version1Low + 1, English, IDNO, NoQuestion,
         true},
        {"an older file by its high part", VersionedLibrary(1), VersionRule, Version1High + 1, 0, English, IDNO,
         NoQuestion, true},
        {"a newer file, kept", VersionedLibrary(1), VersionRule, Version1High, Version1Low - 1, English, IDNO,
         "newer", false},
        {"a newer file, replaced", VersionedLibrary(2), VersionRule, Version1High, Version1Low, German, IDYES, "newer",
         true},
        {"a newer file by its high part only", VersionedLibrary(1), VersionRule, Version1High - 1, 0xFFFFFFFF, English,
         IDNO, "newer", false},
        {"the same language", VersionedLibrary(2), LanguageRule, 0, 0, German, IDNO, NoQuestion, true},
        {"another language, kept", VersionedLibrary(2), LanguageRule, 0, 0, English, IDNO, "language", false},
        {"another language, replaced", VersionedLibrary(1), LanguageRule, 0, 0, German, IDYES, "language", true},
        {"a language compared by its low 16 bits", VersionedLibrary(1), LanguageRule, 0, 0, 0x12340409, IDNO,
         NoQuestion, true},
        {"No to the version question: no language question", VersionedLibrary(2), VersionRule | LanguageRule,
         Version1High, Version1Low, English, IDNO, "newer", false},
        {"Yes to the version question, then the language question", VersionedLibrary(2), VersionRule | LanguageRule,
         Version1High, Version1Low, English, IDYES, "newer", true},
    };
    for (const Case& c : cases) {
        INFO(c.name);
        Engine engine;
        ScratchFolder scratch(ScratchLabel);
        TestArchive archive(scratch.Path("setup.exe"));
        archive.AddEntry(VersionedEntry(c.flags, c.high, c.low, c.language));
        archive.Open();
        std::string destination = scratch.Path("library.dll");
        if (c.existing == text) scratch.Make("library.dll", "no version here");
        if (!c.existing.empty() && c.existing != text) REQUIRE(CopyFileA(c.existing.c_str(), destination.c_str(), FALSE));
        SetWorkPath(destination);

        MessageBoxAnswerer answerer({c.answer});
        CHECK(CheckVersionRules(archive.Entry(0)) == c.write);
        std::vector<SeenMessageBox> seen = answerer.Stop();
        if (c.question == NoQuestion) {
            CHECK(seen.empty());
            continue;
        }
        // Yes to both questions asks both; otherwise one is asked.
        bool both = c.answer == IDYES && c.flags == (VersionRule | LanguageRule);
        REQUIRE(seen.size() == (both ? 2u : 1u));
        CHECK(seen[0].text == destination + (std::string(c.question) == "newer"
                                                 ? " is newer. Replace it?"
                                                 : " is in another language. Replace it?"));
        CHECK(seen[0].buttons == std::vector<int>{IDYES, IDNO});
        CHECK(seen[0].defaultButton == IDNO);
        if (both) CHECK(seen[1].text == destination + " is in another language. Replace it?");
    }
}

TEST_CASE("an empty newer-file text keeps the newer file silently; an empty language text still asks") {
    Engine engine;
    ScratchFolder scratch(ScratchLabel);
    TestArchive archive(scratch.Path("setup.exe"));
    archive.SetMessage(29, "");
    archive.SetMessage(30, "");
    TestFileEntry entry;
    entry.name = "library.dll";
    entry.flags = VersionRule;
    entry.version.language = English;
    archive.AddEntry(entry);  // version 0.0.0.0: anything is newer
    entry.flags = LanguageRule;
    archive.AddEntry(entry);
    archive.Open();
    std::string destination = scratch.Path("library.dll");
    REQUIRE(CopyFileA(VersionedLibrary(2).c_str(), destination.c_str(), FALSE));
    SetWorkPath(destination);

    MessageBoxAnswerer answerer({IDYES});
    CHECK_FALSE(CheckVersionRules(archive.Entry(0)));
    CHECK(answerer.Stop().empty());

    MessageBoxAnswerer languageAnswerer({IDYES});
    CHECK(CheckVersionRules(archive.Entry(1)));
    CHECK(languageAnswerer.Stop().size() == 1);
}

// ---------------------------------------------------------------------------
// Replacement

namespace {

// A destination and a finished temporary file beside it, with the entry
// that describes the new contents.
class Replacement {
public:
    explicit Replacement(u8 folder = SetFolder, const char* oldContents = "old contents")
        : scratch(ScratchLabel), archive(scratch.Path("setup.exe")) {
        destination = scratch.Path("app.dll");
        temporary = scratch.Make("app.$$A", "new contents");
        if (oldContents != nullptr) scratch.Make("app.dll", oldContents);
        TestFileEntry entry;
        entry.name = "app.dll";
        entry.folder = folder;
        entry.size = 12;
        entry.checkValue = CheckValueOf(TestBytes("new contents"));
        archive.AddEntry(entry);
        archive.Open();
        SetWorkPath(destination);
    }
    FileEntry* Entry() { return archive.Entry(0); }
    void Replace() { ReplaceDestination(Entry(), temporary.c_str()); }

    ScratchFolder scratch;
    TestArchive archive;
    std::string destination;
    std::string temporary;
};

// Holds a file open the way another program might: reading, sharing reading
// only, so it can be neither deleted nor overwritten.
HANDLE HoldOpen(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    REQUIRE(file != INVALID_HANDLE_VALUE);
    return file;
}

}  // namespace

TEST_CASE("a new file is moved into place as new, an existing one as replaced") {
    Engine engine;
    for (bool existing : {false, true}) {
        CAPTURE(existing);
        Replacement r(SetFolder, existing ? "old contents" : nullptr);
        r.Replace();
        CHECK(r.Entry()->outcome == (existing ? FileReplaced : FileNew));
        CHECK(ReadWholeFile(r.destination) == "new contents");
        CHECK_FALSE(FileExists(r.temporary));
    }
}

TEST_CASE("a locked destination asks Abort, Retry or Ignore") {
    struct Case {
        const char* name;
        std::vector<int> answers;
        u16 outcome;
        const char* contents;
    };
    const Case cases[] = {
        {"Abort: not replaced", {IDABORT}, FileNotReplaced, "old contents"},
        {"Ignore: the old file counts as installed", {IDIGNORE}, FileReplaced, "old contents"},
        {"Retry once the holder has let go", {IDRETRY}, FileReplaced, "new contents"},
        {"Retry while still held, then Abort", {IDRETRY, IDABORT}, FileNotReplaced, "old contents"},
    };
    for (const Case& c : cases) {
        INFO(c.name);
        Engine engine;
        Replacement r;
        HANDLE holder = HoldOpen(r.destination);
        bool releaseOnRetry = c.answers.size() == 1;
        MessageBoxAnswerer answerer(c.answers, [&](int answer) {
            if (answer == IDRETRY && releaseOnRetry) {
                CloseHandle(holder);
                holder = nullptr;
            }
        });
        r.Replace();
        std::vector<SeenMessageBox> seen = answerer.Stop();
        if (holder != nullptr) CloseHandle(holder);

        CHECK(r.Entry()->outcome == c.outcome);
        CHECK(ReadWholeFile(r.destination) == c.contents);
        CHECK_FALSE(FileExists(r.temporary));  // moved, or deleted
        REQUIRE(seen.size() == c.answers.size());
        CHECK(seen[0].text == "Cannot replace " + r.destination);
        CHECK(seen[0].buttons == std::vector<int>{IDABORT, IDRETRY, IDIGNORE});
        CHECK(std::string(MessagePath) == r.destination);
    }
}

// Replaces r's destination while another program holds it open, on NT,
// where no question may be asked; true when the restart operations then
// hold the move of the temporary file onto the destination (and forgets them).
bool ReplacedAtRestartOnNt(Replacement& r) {
    bool savedIsNt = isNt;
    isNt = true;
    HANDLE holder = HoldOpen(r.destination);
    MessageBoxAnswerer answerer({IDABORT});
    r.Replace();
    CHECK(answerer.Stop().empty());
    CloseHandle(holder);
    std::vector<std::string> pending = PendingOperations();
    ForgetPendingOperations(r.scratch.Root());
    isNt = savedIsNt;
    bool found = false;
    for (size_t i = 0; i + 1 < pending.size(); i += 2)
        found = found || (pending[i] == "\\??\\" + r.temporary && pending[i + 1] == "!\\??\\" + r.destination);
    return found;
}

TEST_CASE("unattended, a newer or foreign file is kept and a locked one left for the restart, with no box") {
    struct Case {
        const char* name;
        u8 flags;
        u32 high, low, language;
    };
    const Case cases[] = {
        {"a newer file", VersionRule, Version1High, Version1Low - 1, English},
        {"a file in another language", LanguageRule, 0, 0, German},
    };
    for (const Case& c : cases) {
        INFO(c.name);
        Engine engine;
        runOptions.mode = QuietRun;
        ScratchFolder scratch(ScratchLabel);
        TestArchive archive(scratch.Path("setup.exe"));
        archive.AddEntry(VersionedEntry(c.flags, c.high, c.low, c.language));
        archive.Open();
        std::string destination = scratch.Path("library.dll");
        REQUIRE(CopyFileA(VersionedLibrary(1).c_str(), destination.c_str(), FALSE));
        SetWorkPath(destination);
        MessageBoxAnswerer answerer({IDYES});
        CHECK_FALSE(CheckVersionRules(archive.Entry(0)));
        CHECK(answerer.Stop().empty());
    }
    SUBCASE("a locked file, tried again and then left for the restart") {
        Engine engine;
        runOptions.mode = PassiveRun;
        Replacement r;
        CHECK(ReplacedAtRestartOnNt(r));
        CHECK(r.Entry()->outcome == FileReplaced);
        CHECK(restartNeeded);
        CHECK(ReadWholeFile(r.destination) == "old contents");  // until the restart
    }
    ResetSetupState();
    SetProgressPage(nullptr);
}

TEST_CASE("a library in use counts as locked, though deleting it reports access denied") {
    Engine engine;
    Replacement r(SetFolder, nullptr);
    REQUIRE(CopyFileA(VersionedLibrary(1).c_str(), r.destination.c_str(), FALSE));
    HMODULE library = LoadLibraryA(r.destination.c_str());
    REQUIRE(library != nullptr);
    MessageBoxAnswerer answerer({IDABORT});
    r.Replace();
    CHECK(answerer.Stop().size() == 1);
    FreeLibrary(library);
    CHECK(r.Entry()->outcome == FileNotReplaced);
    CHECK(ReadWholeFileBytes(r.destination) == ReadWholeFileBytes(VersionedLibrary(1)));
    CHECK_FALSE(FileExists(r.temporary));
}

TEST_CASE("a locked file in the Windows or system folder is replaced at the next restart, without a question") {
    for (u8 folder : {WindowsFolder, SystemFolder}) {
        CAPTURE(int(folder));
        Engine engine;
        Replacement r(folder);
        CHECK(ReplacedAtRestartOnNt(r));
        CHECK(r.Entry()->outcome == FileReplaced);
        CHECK(restartNeeded);
        CHECK(ReadWholeFile(r.temporary) == "new contents");  // kept for the restart
        CHECK(ReadWholeFile(r.destination) == "old contents");
    }
}

TEST_CASE("a locked font or a locked file that is already the same stays without a question") {
    struct Case {
        const char* name;
        u8 folder;
        const char* oldContents;
    };
    const Case cases[] = {
        {"a font in use", FontsFolder, "old contents"},
        {"the same contents already there", SetFolder, "new contents"},
    };
    for (const Case& c : cases) {
        INFO(c.name);
        Engine engine;
        Replacement r(c.folder, c.oldContents);
        HANDLE holder = HoldOpen(r.destination);
        MessageBoxAnswerer answerer({IDABORT});
        r.Replace();
        CHECK(answerer.Stop().empty());
        CloseHandle(holder);
        CHECK(r.Entry()->outcome == FileReplaced);
        CHECK(ReadWholeFile(r.destination) == c.oldContents);
        CHECK_FALSE(FileExists(r.temporary));
        CHECK_FALSE(restartNeeded);
    }
}

TEST_CASE("a move into place that fails is not counted as installed") {
    Engine engine;
    SUBCASE("the destination's folder is gone") {
        Replacement r(SetFolder, nullptr);
        std::string destination = r.scratch.Path("gone\\app.dll");
        SetWorkPath(destination);
        r.Replace();
        CHECK(r.Entry()->outcome == FileNotReplaced);
        CHECK_FALSE(FileExists(r.temporary));
    }
    SUBCASE("the temporary file is held open") {
        Replacement r;
        HANDLE holder = HoldOpen(r.temporary);
        r.Replace();
        CloseHandle(holder);
        CHECK(r.Entry()->outcome == FileNotReplaced);
    }
}
