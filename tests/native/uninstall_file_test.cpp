// The uninstall program's reading of its own file (where its image ends,
// which records follow it) and of its command line. It runs on whatever the
// file holds, so every read must stop at the end of what is there.
#include <doctest/doctest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "archive/cursor.h"
#include "archive/records.h"
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
    const std::string settings("\0\0\0\0", 4), key("\2\0\0\x80\1\0k", 7);
    struct Case {
        const char* what;
        Bytes tail;
        std::string texts, fileList, settings, key;
        bool damaged;
    };
    Bytes overrun = Record(LogUninstallKeyRecord, key);
    overrun[4] = 200;  // runs past the end of the file
    const Case cases[] = {
        {"every record, an unknown one passed over",
         Joined({Record(UninstallTextsRecord, "a"), Record(UninstallSettingsRecord, settings), Record(0x1299, "?"),
                 Record(LogFileListRecord, list), Record(LogUninstallKeyRecord, key), Record(LogEndRecord, "")}),
         "a", list, settings, key, false},
        {"nothing after the closing header",
         Joined({Record(UninstallTextsRecord, "a"), Record(LogEndRecord, ""), Record(LogFileListRecord, list)}), "a",
         "(none)", "(none)", "(none)", false},
        {"a record past the end ends the search",
         Joined({Record(UninstallTextsRecord, "a"), overrun, Record(LogFileListRecord, list)}), "a", "(none)",
         "(none)", "(none)", true},
        {"a header cut short", Joined({Record(UninstallTextsRecord, "a"), Bytes{0x35, 0x12, 0}}), "a", "(none)",
         "(none)", "(none)", true},
        {"the image alone", Bytes{}, "(none)", "(none)", "(none)", "(none)", false},
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
        CHECK(data.damaged == c.damaged);
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
    // Setup writes nothing after a log's closing header; "key" is no key
    // record either. Found, but not to be acted on.
    CHECK(data.damaged);
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

namespace {

// What followed the installed uninstaller's image after a real installation
// of tests/fixtures/damaged-log: kelvo's code page, texts and settings, then
// the log setup wrote (file list, shortcut list, uninstall key, closing header).
Bytes InstalledTail() {
    return ReadBytes(std::string(KELVO_SOURCE_DIR) + "/tests/fixtures/damaged-log/uninstall-tail.bin");
}

// The places in a run of records that damage can reach, found by the
// format (archive/uninstall_log_format.h, archive/uninstall_settings.h).
struct LogMap {
    std::vector<size_t> headers;  // every record's header, the closing one last
    std::vector<size_t> read;     // the headers of the records whose bodies the program reads through
    std::vector<size_t> counts;   // the u32 count of each list
    // Each counted string of those records: its length field and the end of its record.
    std::vector<std::pair<size_t, size_t>> strings;
    size_t logStart = 0;  // the file list's header
};

LogMap MapRecords(const Bytes& bytes) {
    // A list's u32 count, then its records' fields: 'c' counted, 'b' byte, 'n' u32.
    const std::map<uint16_t, std::string> layouts = {{LogFileListRecord, "#ccb"},
                                                     {LogShortcutListRecord, "#cc"},
                                                     {LogUninstallKeyRecord, "nc"},
                                                     {UninstallSettingsRecord, "#bbncccc"}};
    LogMap map;
    size_t at = 0;
    for (;;) {
        REQUIRE(at + 8 <= bytes.size());
        map.headers.push_back(at);
        uint16_t id = ReadU16(&bytes[at]);
        uint32_t length = ReadU32(&bytes[at + 4]);
        if (id == LogEndRecord) break;
        if (id == LogFileListRecord) map.logStart = at;
        size_t body = at + 8, end = body + length;
        auto layout = layouts.find(id);
        if (layout != layouts.end()) {
            map.read.push_back(at);
            std::string fields = layout->second;
            uint32_t count = 1;
            size_t p = body;
            if (fields[0] == '#') {
                map.counts.push_back(p);
                count = ReadU32(&bytes[p]);
                p += 4;
                fields.erase(0, 1);
            }
            for (uint32_t i = 0; i < count; i++) {
                for (char field : fields) {
                    if (field == 'c') map.strings.push_back({p, end});
                    p += field == 'c' ? 2 + ReadU16(&bytes[p]) : field == 'b' ? 1 : 4;
                }
            }
            REQUIRE(p == end);
        }
        at = end;
    }
    REQUIRE(map.headers.back() + 8 == bytes.size());
    return map;
}

void PutU32At(Bytes& bytes, size_t at, uint32_t value) { std::memcpy(&bytes[at], &value, 4); }

// One kind of damage, done at every place of the records where it can be.
struct Damage {
    const char* what;
    std::function<std::vector<Bytes>(const Bytes&, const LogMap&)> copies;
};

// Each kind of damage an uninstaller's data and log may come to: every copy
// it makes must be refused as a whole.
std::vector<Damage> DamageKinds() {
    return {
        {"cut short, at every byte", [](const Bytes& b, const LogMap&) {
             std::vector<Bytes> out;
             for (size_t size = 1; size < b.size(); size++) out.emplace_back(b.begin(), b.begin() + size);
             return out;
         }},
        {"a counted string that runs past its record", [](const Bytes& b, const LogMap& m) {
             std::vector<Bytes> out;
             for (auto [at, end] : m.strings) {
                 for (size_t length : {end - at - 2 + 1, size_t{0xFFFF}}) {
                     Bytes copy = b;
                     copy[at] = static_cast<uint8_t>(length);
                     copy[at + 1] = static_cast<uint8_t>(length >> 8);
                     out.push_back(copy);
                 }
             }
             return out;
         }},
        {"a count larger than the records that follow", [](const Bytes& b, const LogMap& m) {
             std::vector<Bytes> out;
             for (size_t at : m.counts) {
                 for (uint32_t count : {ReadU32(&b[at]) + 1, 0xFFFFFFFFu}) {
                     out.push_back(b);
                     PutU32At(out.back(), at, count);
                 }
             }
             return out;
         }},
        {"a count smaller than the records that follow", [](const Bytes& b, const LogMap& m) {
             std::vector<Bytes> out;
             for (size_t at : m.counts) {
                 if (ReadU32(&b[at]) == 0) continue;
                 out.push_back(b);
                 PutU32At(out.back(), at, ReadU32(&b[at]) - 1);
             }
             return out;
         }},
        {"a record a byte longer or shorter than what fills it", [](const Bytes& b, const LogMap& m) {
             std::vector<Bytes> out;
             for (size_t at : m.read) {
                 for (int change : {1, -1}) {
                     out.push_back(b);
                     PutU32At(out.back(), at + 4, ReadU32(&b[at + 4]) + change);
                 }
             }
             return out;
         }},
        {"a record that runs past the end of the file", [](const Bytes& b, const LogMap& m) {
             std::vector<Bytes> out;
             for (size_t at : m.headers) {  // the closing header's body too
                 out.push_back(b);
                 PutU32At(out.back(), at + 4, static_cast<uint32_t>(b.size() - at - 8 + 1));
             }
             return out;
         }},
        {"a record twice", [](const Bytes& b, const LogMap& m) {
             std::vector<Bytes> out;
             for (size_t i = 0; i + 1 < m.headers.size(); i++) {
                 if (ReadU16(&b[m.headers[i]]) == UninstallLanguageTextsRecord) continue;  // one per language
                 Bytes copy(b.begin(), b.begin() + m.headers[i + 1]);
                 copy.insert(copy.end(), b.begin() + m.headers[i], b.end());
                 out.push_back(copy);
             }
             return out;
         }},
        {"a header with flags", [](const Bytes& b, const LogMap& m) {
             std::vector<Bytes> out;
             for (size_t at : m.headers) {
                 for (size_t flag : {at + 2, at + 3}) {
                     out.push_back(b);
                     out.back()[flag] = CompressedBody;
                 }
             }
             return out;
         }},
        {"bytes after the log's closing header, or a closing header with a body", [](const Bytes& b, const LogMap& m) {
             std::vector<Bytes> out = {Joined({b, Bytes{0}}), Joined({b, Record(LogEndRecord, "")}),
                                       Joined({b, Bytes{'x'}})};
             PutU32At(out.back(), m.headers.back() + 4, 1);
             return out;
         }},
    };
}

// The program's data as it finds it: its own file behind the image and,
// when given, the log file beside it.
struct Found {
    Bytes own, beside;
    bool logBeside;
    UninstallData data = {};
    Found(Bytes ownBytes, Bytes besideBytes, bool hasBeside)
        : own(std::move(ownBytes)), beside(std::move(besideBytes)), logBeside(hasBeside) {
        data.bytes = own.data();
        data.size = static_cast<u32>(own.size());
        data.logBeside = logBeside;
        data.logBytes = beside.empty() ? nullptr : beside.data();
        data.logSize = static_cast<u32>(beside.size());
        FindUninstallRecords(&data);
    }
    Found(const Found&) = delete;  // data points into own and beside
};

uint32_t CountOf(const u8* body) { return body == nullptr ? 0 : ReadU32(body); }

}  // namespace

TEST_CASE("a real installation's log reads whole, appended to the uninstaller or beside it") {
    const Bytes tail = InstalledTail();
    const LogMap map = MapRecords(tail);
    const Bytes programData = Joined({Bytes(tail.begin(), tail.begin() + map.logStart), Record(LogEndRecord, "")});
    const Bytes log(tail.begin() + map.logStart, tail.end());
    // A signature adds its padding and certificate table behind the program's data.
    const Bytes signature = Joined({Bytes(8, 0), Record(LogFileListRecord, "certificate")});
    struct Case {
        const char* what;
        Found found;
    };
    Case cases[] = {
        {"appended", Found(tail, {}, false)},
        {"beside", Found(programData, log, true)},
        {"beside a signed program", Found(Joined({programData, signature}), log, true)},
        {"beside, and one appended too: the one beside counts", Found(tail, log, true)},
    };
    for (Case& c : cases) {
        INFO(c.what);
        const UninstallData& data = c.found.data;
        CHECK_FALSE(data.damaged);
        CHECK(CountOf(data.fileList) == 4);  // readme, its desktop shortcut, Docs\notes, the Data folder
        CHECK(CountOf(data.shortcutList) == 1);
        CHECK(CountOf(data.settings) == 2);  // the registry value and the INI entry
        REQUIRE(data.uninstallKey != nullptr);
        CHECK(std::string(UninstallTextOf(data, CaptionText)) == "Uninstall");
    }
}

TEST_CASE("a damaged log is refused whole: every kind of damage at every place it can be") {
    const Bytes tail = InstalledTail();
    const LogMap map = MapRecords(tail);
    const Bytes programData = Joined({Bytes(tail.begin(), tail.begin() + map.logStart), Record(LogEndRecord, "")});
    const Bytes log(tail.begin() + map.logStart, tail.end());
    const LogMap logMap = MapRecords(log);
    const LogMap programMap = MapRecords(programData);
    for (const Damage& damage : DamageKinds()) {
        const std::string what = damage.what;
        CAPTURE(what);
        // The log appended to the uninstaller, with kelvo's data before it.
        std::vector<Bytes> copies = damage.copies(tail, map);
        CHECK_FALSE(copies.empty());
        for (const Bytes& copy : copies) {
            Found found(copy, {}, false);
            if (!found.data.damaged) FAIL_CHECK("taken whole: " << copy.size() << " bytes");
        }
        // The log beside the uninstaller, and the program's data it goes with.
        for (const Bytes& copy : damage.copies(log, logMap)) {
            Found found(programData, copy, true);
            if (!found.data.damaged) FAIL_CHECK("the log beside taken whole: " << copy.size() << " bytes");
        }
        // Bytes after the program's own closing header are a signature's, not damage.
        if (what.rfind("bytes after", 0) == 0) continue;
        for (const Bytes& copy : damage.copies(programData, programMap)) {
            Found found(copy, log, true);
            if (!found.data.damaged) FAIL_CHECK("the program's data taken whole: " << copy.size() << " bytes");
        }
    }
}

TEST_CASE("no log at all is told from a damaged one") {
    const Bytes tail = InstalledTail();
    const LogMap map = MapRecords(tail);
    const Bytes programData = Joined({Bytes(tail.begin(), tail.begin() + map.logStart), Record(LogEndRecord, "")});
    struct Case {
        const char* what;
        Found found;
        bool damaged;
    };
    Case cases[] = {
        {"the program's data alone: no log", Found(programData, {}, false), false},
        {"the image alone: no log", Found({}, {}, false), false},
        {"a log file beside that is empty or unreadable", Found(programData, {}, true), true},
        {"a log file beside with no file list", Found(programData, Record(LogEndRecord, ""), true), true},
    };
    // A log beside a program cut back to its image: without the program's
    // data (its settings list) the log is no whole either.
    Found cutProgram({}, Bytes(tail.begin() + map.logStart, tail.end()), true);
    CHECK(cutProgram.data.damaged);
    for (Case& c : cases) {
        INFO(c.what);
        CHECK(c.found.data.damaged == c.damaged);
        CHECK(c.found.data.fileList == nullptr);
    }
}
