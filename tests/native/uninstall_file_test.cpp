// The uninstall program's reading of its own file (where its image ends,
// which records follow it) and of its command line. It runs on whatever the
// file holds, so every read must stop at the end of what is there.
#include <doctest/doctest.h>

#include <cstring>
#include <string>

#include "archive/cursor.h"
#include "archive/uninstall_log_format.h"
#include "archive/uninstall_settings.h"
#include "archive/uninstall_texts.h"
#include "builder/record_writer.h"
#include "tests/support/native_files.h"
#include "uninstall/uninstall_log.h"
#include "uninstall/uninstall_start.h"

namespace {

const uint32_t PeOffset = 0x40;
const uint32_t OptionalHeaderSize = 0xE0;
const uint32_t SectionTable = PeOffset + 24 + OptionalHeaderSize;

// A PE header whose sections end at `end` (two sections, the later one
// listed first); its own size is `size`.
Bytes Image(uint32_t end, uint32_t size = 0x400) {
    Bytes image(size, 0);
    image[0] = 'M';
    image[1] = 'Z';
    std::memcpy(&image[0x3C], &PeOffset, 4);
    std::memcpy(&image[PeOffset], "PE\0\0", 4);
    image[PeOffset + 6] = 2;
    image[PeOffset + 20] = OptionalHeaderSize;
    const uint32_t sections[2][2] = {{end - 0x100, 0x100}, {0x200, 0x100}};  // raw offset, raw size
    for (int i = 0; i < 2; i++) {
        std::memcpy(&image[SectionTable + 40 * i + 20], &sections[i][0], 4);
        std::memcpy(&image[SectionTable + 40 * i + 16], &sections[i][1], 4);
    }
    return image;
}

Bytes Record(uint16_t id, const std::string& body) {
    Bytes out;
    PutU16(out, id);
    PutU16(out, 0);
    PutU32(out, static_cast<uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes Joined(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

std::string Body(const u8* body, uint32_t length) {
    return body == nullptr ? "(none)" : std::string(reinterpret_cast<const char*>(body), length);
}

}  // namespace

TEST_CASE("the image ends where its furthest section ends; anything else is no image") {
    struct Case {
        const char* what;
        Bytes header;
        uint32_t end;
    };
    Bytes notMz = Image(0x600), noPe = Image(0x600), farPe = Image(0x600), manySections = Image(0x600);
    notMz[0] = 'X';
    noPe[PeOffset] = 'X';
    uint32_t beyond = 0x3F0;
    std::memcpy(&farPe[0x3C], &beyond, 4);
    manySections[PeOffset + 6] = 0xFF;  // a table that would run past the header
    const Case cases[] = {
        {"sections", Image(0x600), 0x600},
        {"too short for a header", Bytes(0x30, 'M'), 0},
        {"no MZ", notMz, 0},
        {"no PE signature", noPe, 0},
        {"PE header past the end", farPe, 0},
        {"section table past the end", manySections, 0},
    };
    for (const Case& c : cases) {
        CAPTURE(c.what);
        CHECK(ImageEnd(c.header.data(), static_cast<u32>(c.header.size())) == c.end);
    }
}

TEST_CASE("the records behind the image are found up to the closing header, and no further") {
    Scratch s("uninstall-file");
    const Bytes image = Image(0x600, 0x600);
    const std::string list = std::string("\1\0\0\0\1\0.\1\0a\0", 11);
    struct Case {
        const char* what;
        Bytes tail;
        std::string texts, fileList, settings, key;
    };
    Bytes overrun = Record(LogUninstallKeyRecord, "key");
    overrun[4] = 200;  // runs past the end of the file
    const Case cases[] = {
        {"every record, an unknown one passed over",
         Joined({Record(UninstallTextsRecord, "a"), Record(UninstallSettingsRecord, "s"), Record(0x1299, "?"),
                 Record(LogFileListRecord, list), Record(LogUninstallKeyRecord, "key"), Record(LogEndRecord, "")}),
         "a", list, "s", "key"},
        {"nothing after the closing header",
         Joined({Record(UninstallTextsRecord, "a"), Record(LogEndRecord, ""), Record(LogFileListRecord, list)}), "a",
         "(none)", "(none)", "(none)"},
        {"a record past the end ends the search",
         Joined({Record(UninstallTextsRecord, "a"), overrun, Record(LogFileListRecord, list)}), "a", "(none)",
         "(none)", "(none)"},
        {"a header cut short", Joined({Record(UninstallTextsRecord, "a"), Bytes{0x35, 0x12, 0}}), "a", "(none)",
         "(none)", "(none)"},
        {"the image alone", Bytes{}, "(none)", "(none)", "(none)", "(none)"},
    };
    for (const Case& c : cases) {
        CAPTURE(c.what);
        WriteBytes(s.path / "uninst.exe", Joined({image, c.tail}));
        UninstallData data;
        REQUIRE(LoadUninstallData((s.path / "uninst.exe").c_str(), &data));
        CHECK(data.imageSize == image.size());
        CHECK(Body(data.texts, data.textsLength) == c.texts);
        CHECK(Body(data.fileList, data.fileListLength) == c.fileList);
        CHECK(Body(data.settings, data.settingsLength) == c.settings);
        CHECK(Body(data.uninstallKey, data.uninstallKeyLength) == c.key);
        CHECK(Body(data.shortcutList, data.shortcutListLength) == "(none)");
        ReleaseUninstallData(&data);
    }
    WriteBytes(s.path / "text.txt", Bytes(5000, 'x'));
    UninstallData data;
    CHECK_FALSE(LoadUninstallData((s.path / "text.txt").c_str(), &data));
    CHECK_FALSE(LoadUninstallData((s.path / "missing.exe").c_str(), &data));
}

TEST_CASE("a signed uninstaller's log is read from the file beside it") {
    Scratch s("uninstall-file-beside");
    const Bytes image = Image(0x600, 0x600);
    const std::string list = std::string("\1\0\0\0\1\0.\1\0a\0", 11);
    // The program's own data, then the padding and certificate table a
    // signature adds: nothing after the closing header is read.
    const Bytes program = Joined({image, Record(UninstallTextsRecord, "a"), Record(UninstallSettingsRecord, "s"),
                                  Record(LogEndRecord, ""), Bytes(8, 0), Record(LogFileListRecord, "certificate")});
    WriteBytes(s.path / "uninst.exe", program);
    UninstallData data;
    REQUIRE(LoadUninstallData((s.path / "uninst.exe").c_str(), &data));
    CHECK(Body(data.fileList, data.fileListLength) == "(none)");
    CHECK(data.logBytes == nullptr);
    ReleaseUninstallData(&data);

    WriteBytes(s.path / "uninst.dat", Joined({Record(LogFileListRecord, list), Record(LogUninstallKeyRecord, "key"),
                                              Record(LogEndRecord, ""), Record(UninstallTextsRecord, "late")}));
    REQUIRE(LoadUninstallData((s.path / "uninst.exe").c_str(), &data));
    CHECK(Body(data.texts, data.textsLength) == "a");
    CHECK(Body(data.settings, data.settingsLength) == "s");
    CHECK(Body(data.fileList, data.fileListLength) == list);
    CHECK(Body(data.uninstallKey, data.uninstallKeyLength) == "key");
    ReleaseUninstallData(&data);
}

TEST_CASE("the log beside the uninstaller takes its name with .dat for its extension") {
    struct Case {
        const char* uninstaller;
        u32 capacity;
        const char* log;  // null: it does not fit
    };
    const Case cases[] = {
        {"C:\\Program Files\\App\\uninst.exe", 260, "C:\\Program Files\\App\\uninst.dat"},
        {"C:\\App.v2\\uninst", 260, "C:\\App.v2\\uninst.dat"},
        {"C:\\App\\un.inst.exe", 260, "C:\\App\\un.inst.dat"},
        {"C:\\App\\uninst.exe", 18, "C:\\App\\uninst.dat"},
        {"C:\\App\\uninst.exe", 17, nullptr},
    };
    for (const Case& c : cases) {
        CAPTURE(c.uninstaller);
        char path[260] = "";
        bool fits = PutUninstallLogPath(path, c.uninstaller, c.capacity);
        CHECK(fits == (c.log != nullptr));
        if (fits) CHECK(std::string(path) == c.log);
    }
}

TEST_CASE("texts and counted strings are read only inside their record") {
    const std::string texts("first\0second\0unterminated", 25);
    UninstallData data = {};
    data.texts = reinterpret_cast<const u8*>(texts.data());
    data.textsLength = static_cast<u32>(texts.size());
    CHECK(std::string(UninstallTextOf(data, 0)) == "first");
    CHECK(std::string(UninstallTextOf(data, 1)) == "second");
    CHECK(std::string(UninstallTextOf(data, 2)).empty());  // no terminator: no text
    CHECK(std::string(UninstallTextOf(data, 7)).empty());

    struct Case {
        const char* what;
        std::string body;
        uint32_t capacity;
        bool read;
    };
    const Case cases[] = {
        {"fits", std::string("\3\0abc", 5), 4, true},
        {"empty", std::string("\0\0", 2), 1, true},
        {"no room for the terminator", std::string("\3\0abc", 5), 3, false},
        {"runs past the body", std::string("\4\0abc", 5), 16, false},
        {"holds a NUL", std::string("\3\0a\0c", 5), 16, false},
        {"half a length", std::string("\3", 1), 16, false},
    };
    for (const Case& c : cases) {
        CAPTURE(c.what);
        Cursor cursor = MakeCursor(reinterpret_cast<const u8*>(c.body.data()), static_cast<u32>(c.body.size()));
        char text[16];
        CHECK(TakeCountedText(cursor, text, c.capacity) == c.read);
        if (c.read) CHECK(cursor.next == cursor.end);
    }
    Cursor none = MakeCursor(nullptr, 10);  // a missing record reads as empty
    u32 count;
    CHECK_FALSE(TakeU32(none, &count));
}

TEST_CASE("the command line tells a silent start, a normal one and the copy with its original") {
    struct Case {
        const char* line;
        StartMode mode;
        const char* original;
    };
    const std::string longPath = "\"C:\\T\\_uninst1.exe\" /U\"" + std::string(300, 'a') + "\"";
    const Case cases[] = {
        {"C:\\Program Files\\App\\uninst.exe /X", SilentStart, ""},  // unquoted, blanks and all
        {"\"C:\\App\\uninst.exe\" -x  ", SilentStart, ""},
        {"\"C:\\Program Files\\App\\uninst.exe\" /Q", QuietStart, ""},  // the registered quiet uninstall
        {"C:\\App\\uninst.exe /q /X", SilentStart, ""},                    // only the last word counts
        {"C:\\App\\uninst.exe /X /q", QuietStart, ""},
        {"C:\\App\\uninst.exe", NormalStart, ""},
        {"C:\\App\\uninst.exe/X", NormalStart, ""},  // no blank before the switch
        {"\"C:\\T\\_uninst1.exe\" /U\"C:\\Program Files\\App\\uninst.exe\"", RelocatedStart,
         "C:\\Program Files\\App\\uninst.exe"},
        {"\"C:\\T\\_uninst1.exe\" /U\"\"", NormalStart, ""},
        {longPath.c_str(), NormalStart, ""},  // longer than a path can be
    };
    for (const Case& c : cases) {
        CAPTURE(c.line);
        char original[260];
        CHECK(ReadStartMode(c.line, original, sizeof original) == c.mode);
        CHECK(std::string(original) == c.original);
    }
    char command[600], original[260];
    FormatCopyCommand(command, "C:\\Temp\\_uninst2.exe", "C:\\Program Files\\App\\uninst.exe");
    CHECK(ReadStartMode(command, original, sizeof original) == RelocatedStart);
    CHECK(std::string(original) == "C:\\Program Files\\App\\uninst.exe");
}
