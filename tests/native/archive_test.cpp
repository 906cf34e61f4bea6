// The archive loader, the loaded script and the file-data stream, on archives
// crafted record by record.
#include <doctest/doctest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <string>

#include "archive/check_value.h"
#include "archive/file_data.h"
#include "archive/loader.h"
#include "archive/texts.h"
#include "builder/deflate_encoder.h"
#include "builder/record_writer.h"
#include "common/paths.h"
#include "tests/support/native_files.h"

namespace {

const uint32_t StubSize = 64;  // a stand-in for the setup program

// The folder of this test process's archives.
std::string ScratchFolder() {
    static Scratch folder("archive");
    return folder.path.string();
}

// Path buffers and script for one test; everything is released at the end.
struct LoadedArchive {
    std::string path;
    LoadFault fault;
    LoadReport report;

    explicit LoadedArchive(const Bytes& records, const std::string& name = "setup.exe") {
        REQUIRE(AllocatePathBuffers());
        path = ScratchFolder() + "/" + name;
        Bytes file(StubSize, 'S');
        PutBytes(file, records);
        WriteBytes(path, file);
        CopyPath(SourcePath, path.c_str(), PathCapacity);
        fault = ReadSetupArchive(StubSize, &report);
    }
    ~LoadedArchive() {
        CloseFileData();
        ReleaseSetupScript();
        ReleasePathBuffers();
    }
};

InstallSetFields SampleSet(const std::string& name) {
    InstallSetFields set;
    set.displayName = name;
    set.caption = name + " caption";
    set.defaultDestination = "#Program Files#\\" + name;
    set.tables[MessageTexts] = {name + " Setup", "first message", "path %s here"};
    set.tables[MessageTexts].resize(32);
    set.tables[MessageTexts][31] = name + ": the setup file is damaged";
    return set;
}

FileEntryFields SampleEntry(const std::string& name, uint32_t offset, uint32_t stored) {
    FileEntryFields entry;
    entry.dataOffset = offset;
    entry.storedSize = stored;
    entry.strings[EntryFileName] = name;
    return entry;
}

// Every record kind, in the order a writer may choose.
Bytes SampleRecords(const Bytes& fileData) {
    Bytes r;
    PutBytes(r, RecordBytes(DialogTemplatesRecord, EncodeDialogTemplates({Bytes(40, 1), Bytes(30, 2)}), 9));
    PutBytes(r, RecordBytes(SetupFlagsRecord, EncodeSetupFlags(FullScreenBackground)));
    PutBytes(r, RecordBytes(BackgroundTitleRecord, Bytes{'T', 'i', 't', 'l', 'e', 0}));
    PutBytes(r, RecordBytes(BackgroundStyleRecord, EncodeBackgroundStyle(0x111111, 0xFFFFFF, Bytes(60, 0))));
    PutBytes(r, RecordBytes(WizardPictureRecord, Bytes(200, 0x42), 9));
    PutBytes(r, RecordBytes(PrefixDataRecord, Bytes(100, 0x50)));
    PutBytes(r, RecordBytes(InstallSetRecord, EncodeInstallSet(SampleSet("Alpha")), 9));
    PutBytes(r, RecordBytes(RegistryEntriesRecord, EncodeRegistryEntries({{2, 0, "Software\\Kelvo", "Path", "#InstallDir#"}})));
    PutBytes(r, RecordBytes(FileListRecord, EncodeFileList({SampleEntry("a.txt", 0, 3), SampleEntry("sub\\b.txt", 3, 2)})));
    PutBytes(r, RecordBytes(IniEntriesRecord, EncodeIniEntries({{0, "app.ini", "main", "dir", "#InstallDir#"}})));
    PutBytes(r, RecordBytes(FilePatchesRecord, EncodeFilePatches({{0xFFFFFFFF, "a.txt", "new", {'o', 'l', 'd'}}})));
    PutBytes(r, RecordBytes(InstallSetRecord, EncodeInstallSet(SampleSet("Beta")), -1));
    PutBytes(r, RecordBytes(0x1300, Bytes(10, 9)));  // unknown kinds are passed over
    PutBytes(r, FileDataRecordBytes(fileData));
    return r;
}

}  // namespace

TEST_CASE("every record kind loads into its place") {
    LoadedArchive archive(SampleRecords(Bytes(5, 'x')));
    REQUIRE(archive.fault == LoadOk);
    CHECK(setupScript.setupFlags == FullScreenBackground);
    CHECK(setupScript.setCount == 2);
    CHECK(setupScript.dialogTemplates.size == 8 + 40 + 30);
    CHECK(std::string(reinterpret_cast<char*>(setupScript.backgroundTitle.data)) == "Title");
    CHECK(setupScript.wizardPicture.size == 200);
    CHECK(setupScript.prefixData.size == 100);
    CHECK(setupScript.fileDataStart == archive.report.recordOffset + 8);
    CHECK(setupScript.fileDataLength == 5);
    CHECK(currentSet == 0);
    CHECK(currentFileCount == 2);
    CHECK(std::string(EntryString(NextFileEntry(currentFirstEntry), EntryFileName)) == "sub\\b.txt");
    CHECK(FindFileEntry("SUB\\B.TXT") == NextFileEntry(currentFirstEntry));
    CHECK(FindFileEntry("c.txt") == nullptr);
    CHECK(std::string(InstallSetText(1, DisplayNameField)) == "Beta");
    CHECK(setupScript.sets[0].registryEntries.data != nullptr);
    CHECK(setupScript.sets[1].fileList.data == nullptr);
    CHECK_FALSE(singlePageMode);
}

TEST_CASE("texts follow the current set") {
    LoadedArchive archive(SampleRecords(Bytes(5, 'x')));
    REQUIRE(archive.fault == LoadOk);
    CHECK(std::string(LookupText(MessageTexts, 0)) == "Alpha Setup");
    CHECK(std::string(LookupText(MessageTexts, 31)) == "Alpha: the setup file is damaged");
    CHECK(std::string(LookupText(MessageTexts, 32)) == "");   // the count itself
    CHECK(std::string(LookupText(MessageTexts, 0x10000)) == "Alpha Setup");  // numbers are 16-bit
    CHECK(std::string(LookupText(WelcomeTexts, 0)) == "");    // absent table
    CHECK(std::string(LookupText(11, 0)) == "");              // no such table
    SelectInstallSet(1);
    CHECK(std::string(LookupText(MessageTexts, 0)) == "Beta Setup");
    CHECK(currentFileCount == 0);
    CHECK(currentFirstEntry == nullptr);
}

// A LanguageTexts body whose message table holds `messages`.
Bytes LanguageTextsBody(uint16_t language, uint16_t codePage, const std::vector<std::string>& messages) {
    Bytes body;
    PutU16(body, language);
    PutU16(body, codePage);
    for (uint32_t t = 0; t < StringTableCount; t++) {
        Bytes table;
        if (t == MessageTexts) {
            PutU16(table, static_cast<uint16_t>(messages.size()));
            for (const std::string& text : messages) table.insert(table.end(), text.c_str(), text.c_str() + text.size() + 1);
        }
        PutU32(body, static_cast<uint32_t>(table.size()));
        PutBytes(body, table);
    }
    return body;
}

TEST_CASE("a set's texts in the user's language stand in for its own tables") {
    const char* russian = "\xD3\xF1\xF2\xE0\xED\xEE\xE2\xEA\xE0";  // "Установка" in code page 1251
    Bytes records;
    PutBytes(records, RecordBytes(CodePageRecord, Bytes{0xE4, 0x04, 0, 0}));  // 1252
    PutBytes(records, RecordBytes(InstallSetRecord, EncodeInstallSet(SampleSet("Alpha"))));
    PutBytes(records, RecordBytes(LanguageTextsRecord, LanguageTextsBody(0x0407, 1252, {"Alpha Installation"}), 9));
    PutBytes(records, RecordBytes(LanguageTextsRecord, LanguageTextsBody(0x0419, 1251, {russian})));
    PutBytes(records, RecordBytes(LanguageTextsRecord, LanguageTextsBody(0x0807, 1252, {"Alpha Schweiz"})));
    PutBytes(records, FileDataRecordBytes(Bytes()));
    struct Case {
        uint16_t user;
        const char* title;
        uint32_t codePage;
    };
    const Case cases[] = {
        {0x0407, "Alpha Installation", 1252},  // exact, though a later record shares the primary language
        {0x0C07, "Alpha Installation", 1252},  // German (Austria): the first of its primary language
        {0x0807, "Alpha Schweiz", 1252},       // exact beats the earlier primary match
        {0x0419, russian, 1251},
        {0x041D, "Alpha Setup", 1252},  // Swedish: none, so the set's own tables in the archive's code page
        {0, "Alpha Setup", 1252},
    };
    for (const Case& c : cases) {
        CAPTURE(c.user);
        userLanguage = c.user;
        LoadedArchive archive(records);
        REQUIRE(archive.fault == LoadOk);
        CHECK(std::string(LookupText(MessageTexts, 0)) == c.title);
        CHECK(std::string(LookupText(MessageTexts, 1)) == (c.user == 0x041D || c.user == 0 ? "first message" : ""));
        CHECK(std::string(LookupText(WelcomeTexts, 0)) == "");
        CHECK(TextCodePage() == c.codePage);
    }
    userLanguage = 0;

    Bytes cut = LanguageTextsBody(0x0407, 1252, {"Alpha Installation"});
    cut.resize(cut.size() - 1);  // the last table's length runs past the end
    Bytes unterminated = LanguageTextsBody(0x0407, 1252, {"Alpha"});
    unterminated[4 + 4 * MessageTexts + 4 + 2 + 5] = 'x';  // the text's NUL
    for (const Bytes& body : {cut, unterminated}) {
        Bytes damaged;
        PutBytes(damaged, RecordBytes(InstallSetRecord, EncodeInstallSet(SampleSet("Alpha"))));
        PutBytes(damaged, RecordBytes(LanguageTextsRecord, body));
        PutBytes(damaged, FileDataRecordBytes(Bytes()));
        LoadedArchive archive(damaged);
        CHECK(archive.fault == DamagedRecord);
    }
    Bytes early;
    PutBytes(early, RecordBytes(LanguageTextsRecord, LanguageTextsBody(0x0407, 1252, {"x"})));
    LoadedArchive archive(early);
    CHECK(archive.fault == SetRecordBeforeSet);
}

TEST_CASE("the destination is kept per set across selections") {
    LoadedArchive archive(SampleRecords(Bytes(5, 'x')));
    REQUIRE(archive.fault == LoadOk);
    CopyPath(DestinationPath, "C:\\Typed\\Alpha", PathCapacity);
    SelectInstallSet(1);
    CHECK(std::string(DestinationPath) == "");
    CopyPath(DestinationPath, "D:\\Beta", PathCapacity);
    SelectInstallSet(0);
    CHECK(std::string(DestinationPath) == "C:\\Typed\\Alpha");
    SelectInstallSet(1);
    CHECK(std::string(DestinationPath) == "D:\\Beta");
    // A set that was not loaded changes nothing.
    SelectInstallSet(5);
    CHECK(currentSet == 1);
    CHECK(std::string(DestinationPath) == "D:\\Beta");
}

TEST_CASE("FormatMessageText puts MessagePath in for the first %s only") {
    InstallSetFields set;
    set.tables[MessageTexts] = {"caption",      "no path %d here %%", "in %s, 100%% done", "%s and %s again",
                                "%s%n%p%x%d", std::string(2000, 'l') + "%s"};
    Bytes records = RecordBytes(InstallSetRecord, EncodeInstallSet(set));
    PutBytes(records, FileDataRecordBytes(Bytes{}));
    LoadedArchive archive(records);
    REQUIRE(archive.fault == LoadOk);
    SetMessagePath("C:\\App");
    struct Case {
        uint32_t message;
        std::string expected;
    };
    const Case cases[] = {
        {1, "no path %d here %%"},  // without %s the text stands as it is
        {2, "in C:\\App, 100% done"},
        {3, "C:\\App and  again"},  // nothing beyond the one path is read
        {4, "C:\\App%n%p%x%d"},
        {5, std::string(MessageCapacity - 1, 'l')},
        {9, ""},
    };
    for (const Case& c : cases) {
        CAPTURE(c.message);
        char buffer[MessageCapacity];
        FormatMessageText(buffer, c.message);
        CHECK(std::string(buffer) == c.expected);
    }
}

TEST_CASE("cutting the setup file short anywhere fails the load, or only the file data") {
    Bytes full = SampleRecords(Bytes(5, 'x'));
    uint32_t dataStart;
    {
        LoadedArchive whole(full);
        REQUIRE(whole.fault == LoadOk);
        dataStart = setupScript.fileDataStart - StubSize;
    }
    for (size_t cut = 0; cut <= full.size(); cut++) {
        CAPTURE(cut);
        LoadedArchive archive(Bytes(full.begin(), full.begin() + static_cast<long>(cut)));
        if (cut == full.size()) {
            CHECK(archive.fault == LoadOk);  // start + 4 + V == file size
        } else if (cut >= dataStart + 4) {
            CHECK(archive.fault == FileDataIncomplete);  // records fine, contents missing
            CHECK(std::string(LookupText(MessageTexts, 31)) == "Alpha: the setup file is damaged");
        } else {
            CHECK(archive.fault != LoadOk);
            CHECK(archive.fault != FileDataIncomplete);
        }
    }
}

TEST_CASE("an empty FileData record needs a FixedPage record") {
    Bytes records = RecordBytes(InstallSetRecord, EncodeInstallSet(SampleSet("Alpha")));
    PutBytes(records, RecordBytes(InstallSetRecord, EncodeInstallSet(SampleSet("Beta"))));
    Bytes emptyData = {0x7F, 0x7F, 0, 0, 0, 0, 0, 0};
    SUBCASE("without one the file counts as incomplete") {
        PutBytes(records, emptyData);
        LoadedArchive archive(records);
        CHECK(archive.fault == FileDataIncomplete);
        CHECK_FALSE(singlePageMode);
    }
    SUBCASE("with one the setup runs that page alone with its set") {
        Bytes withPage = RecordBytes(FixedPageRecord, EncodeFixedPage(5, 1));
        PutBytes(withPage, records);
        PutBytes(withPage, emptyData);
        LoadedArchive archive(withPage);
        CHECK(archive.fault == LoadOk);
        CHECK(singlePageMode);
        CHECK(fixedPageNumber == 5);
        CHECK(currentSet == 1);
    }
}

TEST_CASE("damaged or hostile records are refused without reading outside them") {
    auto setWith = [](const std::function<void(Bytes&)>& damage) {
        Bytes body = EncodeInstallSet(SampleSet("Alpha"));
        damage(body);
        return RecordBytes(InstallSetRecord, body);
    };
    auto setThen = [](const Bytes& record) {
        Bytes r = RecordBytes(InstallSetRecord, EncodeInstallSet(SampleSet("Alpha")));
        PutBytes(r, record);
        return r;
    };
    Bytes entry = EncodeFileEntry(SampleEntry("name.txt", 0, 0));
    auto fileListWith = [&](const std::function<void(Bytes&)>& damage) {
        Bytes list;
        PutU32(list, 1);
        PutBytes(list, entry);
        damage(list);
        return setThen(RecordBytes(FileListRecord, list));
    };
    Bytes tooLong = RecordBytes(BackgroundTitleRecord, Bytes(300, 'a'), 9);
    tooLong[8] = 10;  // declared decoded size 10, the stream gives 300
    Bytes tooShort = RecordBytes(BackgroundTitleRecord, Bytes(300, 'a'), 9);
    tooShort[9] = 2;  // declared 300 + 512
    Bytes seven;
    for (int i = 0; i < 7; i++) PutBytes(seven, RecordBytes(InstallSetRecord, EncodeInstallSet(SampleSet("S"))));
    struct Case {
        const char* what;
        Bytes records;
        LoadFault fault;
    };
    const Case cases[] = {
        {"text offset past the record", setWith([](Bytes& b) { b[DisplayNameField + 1] = 0x40; }), DamagedRecord},
        {"text without terminator", setWith([](Bytes& b) { b.back() = 'x'; }), DamagedRecord},
        {"string table count too large", setWith([](Bytes& b) {
             uint32_t table = ReadU32(&b[StringTableFields + 4 * MessageTexts]);
             b[table + 1] = 0x7F;
         }), DamagedRecord},
        {"install set shorter than its fields", RecordBytes(InstallSetRecord, Bytes(40, 0)), DamagedRecord},
        {"file entry size 0", fileListWith([](Bytes& l) { l[4] = l[5] = 0; }), DamagedRecord},
        {"file entry past the list", fileListWith([](Bytes& l) { l[4] = 0xFF; }), DamagedRecord},
        {"file entry strings cut", fileListWith([](Bytes& l) { l.pop_back(); l[4]--; }), DamagedRecord},
        {"file count past the list", fileListWith([](Bytes& l) { l[0] = 2; }), DamagedRecord},
        {"per-set record before any set", RecordBytes(FileListRecord, EncodeFileList({})), SetRecordBeforeSet},
        {"a seventh install set", seven, TooManyInstallSets},
        {"stream longer than declared", tooLong, BodyDoesNotDecode},
        {"stream shorter than declared", tooShort, BodyDoesNotDecode},
        {"short raw setup flags", RecordBytes(SetupFlagsRecord, Bytes(2, 0)), DamagedRecord},
        {"ini entry cut", setThen(RecordBytes(IniEntriesRecord, Bytes{1, 0, 0, 'a', 0})), DamagedRecord},
        {"registry entry cut", setThen(RecordBytes(RegistryEntriesRecord, Bytes{1, 0, 1, 0, 0, 0, 0})), DamagedRecord},
        {"patch pattern past the end", setThen(RecordBytes(FilePatchesRecord, [] {
             Bytes b = EncodeFilePatches({{0, "a", "b", {'c'}}});
             b[6] = 9;
             return b;
         }())), DamagedRecord},
        {"template offset past the end", RecordBytes(DialogTemplatesRecord, Bytes{8, 0, 0, 0, 99, 0, 0, 0}), DamagedRecord},
        {"style shorter than its font", RecordBytes(BackgroundStyleRecord, Bytes(20, 0)), DamagedRecord},
        {"record longer than the file", Bytes{0x37, 0x12, 0, 0, 0xFF, 0xFF, 0, 0}, RecordBodyCutShort},
    };
    for (const Case& c : cases) {
        CAPTURE(c.what);
        Bytes records = c.records;
        PutBytes(records, FileDataRecordBytes(Bytes(3, 0)));
        LoadedArchive archive(records);
        CHECK(archive.fault == c.fault);
    }
}

TEST_CASE("a compressed title of 33 bytes in one stored block loads from a 40-byte body") {
    Bytes body;
    PutU32(body, 33);
    PutBytes(body, Bytes{0x0F, 33, 0});
    for (int i = 0; i < 33; i++) body.push_back(static_cast<uint8_t>(i == 32 ? 0 : 'a' + i % 26));
    Bytes records = {0x37, 0x12, CompressedBody, 0, 40, 0, 0, 0};
    PutBytes(records, body);
    PutBytes(records, Bytes{0, 0x50, 0, 0, 0, 0, 0, 0});  // a zero-length record is passed over
    PutBytes(records, FileDataRecordBytes(Bytes{}));
    LoadedArchive archive(records);
    REQUIRE(archive.fault == LoadOk);
    CHECK(setupScript.backgroundTitle.size == 33);
    CHECK(std::memcmp(setupScript.backgroundTitle.data, body.data() + 7, 33) == 0);
}

TEST_CASE("two entries of 76 and 78 bytes fill a FileData section of 129,926 bytes") {
    FileEntryFields first = SampleEntry("file01.txt", 0, 128431);
    FileEntryFields second = SampleEntry("file0002.txt", 128431, 1495);
    first.entryFlags = second.entryFlags = HasFileTimes;
    CHECK(EncodeFileEntry(first).size() == 76);
    CHECK(EncodeFileEntry(second).size() == 78);
    Bytes list = EncodeFileList({first, second});
    CHECK(list.size() == 158);

    Bytes data(129926);
    for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<uint8_t>(i * 7);
    Bytes records = RecordBytes(InstallSetRecord, EncodeInstallSet(SampleSet("Alpha")));
    PutBytes(records, RecordBytes(FileListRecord, list));
    PutBytes(records, FileDataRecordBytes(data));
    LoadedArchive archive(records);
    REQUIRE(archive.fault == LoadOk);
    REQUIRE(OpenFileData(false) == FileDataReady);
    CHECK(SeekFileData(128431) == FileDataReady);
    CHECK(fileData.volume == 0);
    CHECK(SeekFile(fileData.handle, 0, SeekFromCurrent) == setupScript.fileDataStart + 4 + 128431);
    uint8_t tail[1495];
    u32 got = 0;
    CHECK(ReadFileData(tail, sizeof tail, &got));
    CHECK(got == 1495);
    CHECK(std::memcmp(tail, data.data() + 128431, got) == 0);
}

TEST_CASE("continuation volume names") {
    struct Case {
        const char* path;
        uint32_t volume;
        const char* expected;
    };
    const Case cases[] = {
        {"C:\\SETUP\\SETUP.EXE", 1, "C:\\SETUP\\SETUP.D01"},
        {"C:\\SETUP\\SETUP.D01", 2, "C:\\SETUP\\SETUP.D02"},
        {"C:\\SETUP\\INSTALL", 1, "C:\\SETUP\\INSTALL.D01"},
        {"D:\\SET.UP\\SETUP", 1, "D:\\SET.UP\\SETUP.D01"},
        {"A:\\SETUP.EXE", 99, "A:\\SETUP.D99"},
        {"A:\\SETUP.EXE", 100, "A:\\SETUP.D100"},
        {"/srv/dist.v2/setup", 3, "/srv/dist.v2/setup.D03"},
    };
    for (const Case& c : cases) {
        char path[PathCapacity];
        CopyPath(path, c.path, PathCapacity);
        CHECK(SetVolumeExtension(path, c.volume));
        CHECK(std::string(path) == c.expected);
    }
    char full[PathCapacity];
    CopyPath(full, std::string(PathCapacity - 3, 'x').c_str(), PathCapacity);
    CHECK_FALSE(SetVolumeExtension(full, 1));  // no room: never cut or overrun
}

TEST_CASE("the stream runs from the setup file into its continuation volume") {
    Bytes first(1000), second(500);
    for (size_t i = 0; i < first.size(); i++) first[i] = static_cast<uint8_t>(i);
    for (size_t i = 0; i < second.size(); i++) second[i] = static_cast<uint8_t>(255 - i);
    Bytes records = RecordBytes(InstallSetRecord, EncodeInstallSet(SampleSet("Alpha")));
    PutBytes(records, FileDataRecordBytes(first));
    Bytes volume;
    PutU32(volume, 500);
    PutBytes(volume, second);
    WriteBytes(ScratchFolder() + "/SETUP.D01", volume);
    LoadedArchive archive(records, "SETUP.EXE");
    REQUIRE(archive.fault == LoadOk);

    SUBCASE("seeking past the first volume opens the second") {
        REQUIRE(OpenFileData(false) == FileDataReady);
        CHECK(SeekFileData(1200) == FileDataReady);
        CHECK(fileData.volume == 1);
        CHECK(std::string(ArchivePath) == ScratchFolder() + "/SETUP.D01");
        CHECK(SeekFile(fileData.handle, 0, SeekFromCurrent) == 204);
        CHECK(SeekFileData(900) == VolumeUnreadable);  // volumes are never reopened backwards
    }
    SUBCASE("an entry across the boundary is read in one call") {
        REQUIRE(OpenFileData(false) == FileDataReady);
        REQUIRE(SeekFileData(900) == FileDataReady);
        uint8_t buffer[300];
        u32 got = 0;
        CHECK(ReadFileData(buffer, 300, &got));
        CHECK(got == 300);
        CHECK(std::memcmp(buffer, first.data() + 900, 100) == 0);
        CHECK(std::memcmp(buffer + 100, second.data(), 200) == 0);
    }
    SUBCASE("a missing volume is named, or asked for when disks can be swapped") {
        unlink((ScratchFolder() + "/SETUP.D01").c_str());
        REQUIRE(OpenFileData(false) == FileDataReady);
        CHECK(SeekFileData(1200) == VolumeUnreadable);
        CHECK(std::string(MessagePath) == ScratchFolder() + "/SETUP.D01");

        static std::vector<uint32_t> asked;
        static Bytes volumeToInsert;
        asked.clear();
        volumeToInsert = volume;
        askForVolume = [](u32 number) {
            asked.push_back(number);
            if (asked.size() == 2) WriteBytes(ScratchFolder() + "/SETUP.D01", volumeToInsert);  // the disk arrives
            return asked.size() < 3;
        };
        REQUIRE(OpenFileData(true) == FileDataReady);
        CHECK(SeekFileData(1200) == FileDataReady);
        CHECK(asked == std::vector<uint32_t>{1, 1});

        unlink((ScratchFolder() + "/SETUP.D01").c_str());
        asked.clear();
        askForVolume = [](u32 number) {
            asked.push_back(number);
            return false;  // the user gives up
        };
        REQUIRE(OpenFileData(true) == FileDataReady);
        CHECK(SeekFileData(1200) == VolumeDeclined);
        CHECK(asked.size() == 1);
        askForVolume = nullptr;
    }
}

TEST_CASE("an entry decodes through the file-data stream across volumes") {
    Bytes contents(100000);
    for (size_t i = 0; i < contents.size(); i++) contents[i] = static_cast<uint8_t>((i * i) >> 7);
    Bytes stream = EncodeStream(contents.data(), contents.size(), 6);
    Bytes lead(777, 'p');  // another entry's data before this one
    Bytes all = lead;
    PutBytes(all, stream);
    size_t split = lead.size() + stream.size() / 2;
    Bytes records = RecordBytes(InstallSetRecord, EncodeInstallSet(SampleSet("Alpha")));
    PutBytes(records, FileDataRecordBytes(Bytes(all.begin(), all.begin() + static_cast<long>(split))));
    Bytes volume;
    PutU32(volume, static_cast<uint32_t>(all.size() - split));
    volume.insert(volume.end(), all.begin() + static_cast<long>(split), all.end());
    WriteBytes(ScratchFolder() + "/split.D01", volume);
    LoadedArchive archive(records, "split.exe");
    REQUIRE(archive.fault == LoadOk);
    REQUIRE(OpenFileData(false) == FileDataReady);
    REQUIRE(SeekFileData(static_cast<u32>(lead.size())) == FileDataReady);
    Bytes out(contents.size());
    InflateSource source = FileDataInflateSource(static_cast<u32>(stream.size()));
    CHECK(InflateToMemory(out.data(), static_cast<u32>(out.size()), source));
    CHECK(out == contents);
    CHECK(fileData.volume == 1);

    // A stored size of 0 takes nothing from the stream, not all of it.
    REQUIRE(SeekFileData(static_cast<u32>(lead.size())) == VolumeUnreadable);  // never backwards
    CloseFileData();
    REQUIRE(OpenFileData(false) == FileDataReady);
    REQUIRE(SeekFileData(static_cast<u32>(lead.size())) == FileDataReady);
    InflateSource empty = FileDataInflateSource(0);
    CHECK_FALSE(InflateToMemory(out.data(), static_cast<u32>(out.size()), empty));
    CHECK(fileData.unread == setupScript.fileDataLength - lead.size());
}
