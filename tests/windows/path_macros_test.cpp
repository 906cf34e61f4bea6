// Folder macros and installed paths under Wine, checked against the prefix's
// own Windows, system, fonts and Program Files folders as the test reads them.
// The shared-file search is replaced by a fake where a file must be reported
// in use (Wine's search never does that) and used for real elsewhere.
#include <windows.h>
#include <shlobj.h>

#include <ctype.h>
#include <doctest/doctest.h>
#include <string.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "archive/script.h"
#include "common/paths.h"
#include "engine/path_macros.h"
#include "tests/support/current_entries.h"
#include "tests/support/win32_test_files.h"

namespace {

class PathBuffers {
public:
    PathBuffers() { REQUIRE(AllocatePathBuffers()); }
    ~PathBuffers() { ReleasePathBuffers(); }
};

void SetPaths(const std::string& destination, const std::string& source) {
    CopyPath(DestinationPath, destination.c_str(), PathCapacity);
    CopyPath(SourcePath, source.c_str(), PathCapacity);
}

std::string RealSystemFolder() {
    char folder[MAX_PATH];
    REQUIRE(GetSystemDirectoryA(folder, MAX_PATH) != 0);
    return folder;
}

const char CurrentVersionKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";
const char ProgramFilesValue[] = "ProgramFilesDir";

std::string RealProgramFilesFolder() {
    char folder[MAX_PATH] = {};
    DWORD size = sizeof folder - 1;
    REQUIRE(RegGetValueA(HKEY_LOCAL_MACHINE, CurrentVersionKey, ProgramFilesValue, RRF_RT_REG_SZ, nullptr, folder,
                         &size) == ERROR_SUCCESS);
    return folder;
}

std::string WithoutTrailingBackslash(std::string path) {
    if (path.size() > 3 && path.back() == '\\') path.pop_back();
    return path;
}

std::string Joined(const std::string& folder, const std::string& name) {
    return folder.empty() || folder.back() == '\\' ? folder + name : folder + "\\" + name;
}

std::string Today() {
    SYSTEMTIME now;
    GetSystemTime(&now);
    return std::to_string(now.wYear * 10000ul + now.wMonth * 100ul + now.wDay);
}

// Measures, then expands into a buffer of exactly that length plus one; the
// two calls must agree.
std::string Expand(const std::string& text) {
    u32 length = ExpandMacros(nullptr, text.c_str(), MacroExpansionLimit);
    std::string out(length + 1, 'Z');
    CHECK(ExpandMacros(&out[0], text.c_str(), length + 1) == length);
    CHECK(out[length] == '\0');
    out.resize(length);
    return out;
}

// Removes ProgramFilesDir for as long as it lives and then puts it back as it
// was, even when a check failed in between.
class ProgramFilesValueRemoved {
public:
    ProgramFilesValueRemoved() {
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, CurrentVersionKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) !=
            ERROR_SUCCESS)
            return;
        DWORD size = sizeof data;
        if (RegQueryValueExA(key, ProgramFilesValue, nullptr, &type, data, &size) != ERROR_SUCCESS) return;
        dataSize = size;
        removed = RegDeleteValueA(key, ProgramFilesValue) == ERROR_SUCCESS;
    }
    ~ProgramFilesValueRemoved() {
        if (removed) RegSetValueExA(key, ProgramFilesValue, 0, type, data, dataSize);
        if (key != nullptr) RegCloseKey(key);
    }
    bool removed = false;

private:
    HKEY key = nullptr;
    DWORD type = 0;
    BYTE data[MAX_PATH * 2] = {};
    DWORD dataSize = 0;
};

// What the fake shared-file search answers, and what it was asked.
struct FakeSearch {
    std::string destination;
    std::string current;
    DWORD result = 0;
    int calls = 0;
    DWORD flags = 0;
    std::string fileName;
    std::string windowsFolder;
    std::string appFolder;
    UINT currentSize = 0;
    UINT destinationSize = 0;
};
FakeSearch fake;

DWORD WINAPI FakeFindSharedFile(DWORD flags, LPSTR fileName, LPSTR windowsFolder, LPSTR appFolder,
                                LPSTR currentFolder, PUINT currentSize, LPSTR destinationFolder,
                                PUINT destinationSize) {
    fake.calls++;
    fake.flags = flags;
    fake.fileName = fileName;
    fake.windowsFolder = windowsFolder;
    fake.appFolder = appFolder;
    fake.currentSize = *currentSize;
    fake.destinationSize = *destinationSize;
    lstrcpynA(currentFolder, fake.current.c_str(), *currentSize);
    lstrcpynA(destinationFolder, fake.destination.c_str(), *destinationSize);
    return fake.result;
}

class FakeSearchInstalled {
public:
    FakeSearchInstalled() {
        fake = FakeSearch();
        findSharedFile = FakeFindSharedFile;
    }
    ~FakeSearchInstalled() { findSharedFile = nullptr; }
};

const char ScratchLabel[] = "kelvo-macros-test";

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

TEST_CASE("macros expand in any case; unknown names vanish and a lone # stays") {
    PathBuffers buffers;
    const std::string windows = WithoutTrailingBackslash(WindowsFolderPath());
    const std::string system = WithoutTrailingBackslash(RealSystemFolder());
    const std::string programFiles = WithoutTrailingBackslash(RealProgramFilesFolder());
    const char* const app = "C:\\Program Files\\App\\";
    const char* const setup = "A:\\SETUP.EXE";

    struct Case {
        const char* destination;
        const char* source;
        const char* text;
        std::string expected;
    };
    const Case cases[] = {
        {app, setup, "#Windows#", windows},
        {app, setup, "#wINDOWS#\\win.ini", windows + "\\win.ini"},
        {app, setup, "#System#", system},
        {app, setup, "x#SYSTEM#y", "x" + system + "y"},
        {app, setup, "#Program Files#\\App", programFiles + "\\App"},
        {app, setup, "#PROGRAM FILES#", programFiles},
        {app, setup, "#InstallDir#", "C:\\Program Files\\App"},
        {app, setup, "#INSTALLDIR#\\bin", "C:\\Program Files\\App\\bin"},
        {"C:\\", setup, "#InstallDir#", "C:\\"},  // a drive root keeps its backslash
        {"", setup, "[#InstallDir#]", "[]"},
        {app, setup, "#SourceDir#", "A:"},
        {app, "\\\\server\\share\\disk1\\setup.exe", "#sourcedir#\\data.d01", "\\\\server\\share\\disk1\\data.d01"},
        {app, "SETUP.EXE", "#SourceDir#", "SETUP.EXE"},  // no folder: the whole path
        {app, setup, "#Date#", Today()},
        {app, setup, "#Start Menu#\\x", "\\x"},
        {app, setup, "a#Startup#b#unknown#c", "abc"},
        {app, setup, "x#y", "x#y"},
        {app, setup, "p#q#r", "pr"},
        {app, setup, "##", ""},
        {app, setup, "a#b#c#Windows", "ac#Windows"},
        {app, setup, "#Windows#Windows#", windows + "Windows#"},
        {app, setup, "plain text", "plain text"},
        {app, setup, "", ""},
        // A value is not scanned again.
        {"D:\\#Windows#\\x", setup, "#InstallDir#", "D:\\#Windows#\\x"},
        {app, "E:\\#System#\\setup.exe", "#SourceDir#", "E:\\#System#"},
    };
    for (const Case& c : cases) {
        CAPTURE(c.text);
        CAPTURE(c.destination);
        SetPaths(c.destination, c.source);
        std::string before = Today();
        std::string result = Expand(c.text);
        if (strcmp(c.text, "#Date#") == 0 && result != c.expected)
            CHECK(result == before);  // the date turned while the table was built
        else
            CHECK(result == c.expected);
    }
}

TEST_CASE("#Date# is today's UTC date as yyyymmdd") {
    PathBuffers buffers;
    std::string before = Today();
    std::string result = Expand("v#date#.log");
    std::string after = Today();
    CHECK((result == "v" + before + ".log" || result == "v" + after + ".log"));
    CHECK(result.size() == 4 + 8 + 1);
}

TEST_CASE("#Program Files# stays as written when the registry does not name the folder") {
    PathBuffers buffers;
    const std::string programFiles = RealProgramFilesFolder();
    {
        ProgramFilesValueRemoved removed;
        REQUIRE(removed.removed);
        CHECK(Expand("#Program Files#\\App") == "#Program Files#\\App");
        CHECK(Expand("x#program files#y#Windows#") == "x#program files#y" + WithoutTrailingBackslash(WindowsFolderPath()));
    }
    CHECK(RealProgramFilesFolder() == programFiles);
    CHECK(Expand("#Program Files#") == WithoutTrailingBackslash(programFiles));
}

TEST_CASE("a short output buffer gets a cut, terminated text and the full length") {
    PathBuffers buffers;
    SetPaths("C:\\App", "A:\\SETUP.EXE");
    const char* const text = "#InstallDir#\\file.txt";
    const std::string full = "C:\\App\\file.txt";
    const u32 length = static_cast<u32>(full.size());

    struct Case {
        u32 outSize;
        std::string written;
    };
    const Case cases[] = {
        {length + 1, full},
        {5, full.substr(0, 4)},
        {1, ""},
    };
    for (const Case& c : cases) {
        CAPTURE(c.outSize);
        char out[64];
        memset(out, 'Z', sizeof out);
        CHECK(ExpandMacros(out, text, c.outSize) == length);
        CHECK(std::string(out) == c.written);
        CHECK(out[c.outSize] == 'Z');  // nothing past the buffer
    }

    // Measuring only: no output buffer, or one of size 0 that stays untouched.
    CHECK(ExpandMacros(nullptr, text, MacroExpansionLimit) == length);
    CHECK(ExpandMacros(nullptr, text, 0) == length);
    char untouched[4] = {'Z', 'Z', 'Z', 'Z'};
    CHECK(ExpandMacros(untouched, text, 0) == length);
    CHECK(untouched[0] == 'Z');
}

TEST_CASE("an expansion longer than the work buffer is cut at its end") {
    PathBuffers buffers;
    const u32 longest = MacroExpansionLimit - 1;
    const std::string windows = WithoutTrailingBackslash(WindowsFolderPath());
    std::string repeated;
    for (int i = 0; i < 10000; i++) repeated += "#Windows#";
    std::string fullRepeat;
    for (int i = 0; i < 10000; i++) fullRepeat += windows;

    struct Case {
        const char* what;
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        {"plain text", std::string(70000, 'a'), std::string(longest, 'a')},
        {"text just fits", std::string(longest, 'b'), std::string(longest, 'b')},
        {"a value crosses the end", std::string(longest - 4, 'c') + "#Windows#tail",
         std::string(longest - 4, 'c') + windows.substr(0, 4)},
        {"a macro starts at the end", std::string(longest, 'd') + "#Windows#", std::string(longest, 'd')},
        {"values alone overflow", repeated, fullRepeat.substr(0, longest)},
    };
    for (const Case& c : cases) {
        CAPTURE(c.what);
        CHECK(ExpandMacros(nullptr, c.text.c_str(), MacroExpansionLimit) == longest);
        std::string out(c.text.size() + 16, 'Z');
        CHECK(ExpandMacros(&out[0], c.text.c_str(), static_cast<u32>(out.size())) == longest);
        CHECK(out[longest] == '\0');
        CHECK(out[longest + 1] == 'Z');
        CHECK(out.compare(0, longest, c.expected) == 0);
    }
}

TEST_CASE("an entry's installed path follows its kind and destination folder") {
    PathBuffers buffers;
    FakeSearchInstalled search;  // counts calls: none of these entries may search
    const std::string windows = WindowsFolderPath();
    const std::string fonts = ShellFolder(CSIDL_FONTS);

    struct Case {
        const char* destination;
        const char* source;
        TestEntry entry;
        std::string expected;
    };
    const Case cases[] = {
        // Files beside the setup program, whatever their folder says.
        {"C:\\App\\", "D:\\media\\setup.exe", {"readme.txt", SetupFolderFile, SetFolder}, "D:\\media\\readme.txt"},
        {"C:\\App\\", "D:\\media\\setup.exe", {"readme.txt", SetupFolderFile, SystemFolder}, "D:\\media\\readme.txt"},
        {"C:\\App\\", "D:\\setup.exe", {"sub\\x.cfg", SetupFolderFile, WindowsFolder}, "D:\\sub\\x.cfg"},
        {"C:\\App\\", "setup.exe", {"readme.txt", SetupFolderFile, FontsFolder}, "readme.txt"},
        // The set's folder, with or without its backslash.
        {"C:\\App\\", "D:\\setup.exe", {"bin\\app.exe", KeptFile, SetFolder}, "C:\\App\\bin\\app.exe"},
        {"C:\\App", "D:\\setup.exe", {"bin\\app.exe", KeptFile, SetFolder}, "C:\\App\\bin\\app.exe"},
        {"C:\\", "D:\\setup.exe", {"app.exe", KeptFile, SetFolder}, "C:\\app.exe"},
        {"", "D:\\setup.exe", {"app.exe", KeptFile, SetFolder}, "app.exe"},
        {"C:\\App", "D:\\setup.exe", {"old.dat", RemovedFile, SetFolder}, "C:\\App\\old.dat"},
        {"C:\\App", "D:\\setup.exe", {"app.exe", KeptFile, 7}, "C:\\App\\app.exe"},
        // Fixed folders.
        {"C:\\App", "D:\\setup.exe", {"app.ini", KeptFile, WindowsFolder}, Joined(windows, "app.ini")},
        {"C:\\App", "D:\\setup.exe", {"old.ini", RemovedFile, WindowsFolder}, Joined(windows, "old.ini")},
        {"C:\\App", "D:\\setup.exe", {"face.ttf", KeptFile, FontsFolder}, Joined(fonts, "face.ttf")},
    };
    for (const Case& c : cases) {
        CAPTURE(c.entry.name);
        CAPTURE(int(c.entry.kind));
        CAPTURE(int(c.entry.folder));
        SetPaths(c.destination, c.source);
        CurrentEntries entries{c.entry};
        CHECK_FALSE(ResolveDestination(entries.First()));
        CHECK(std::string(WorkPath) == c.expected);
    }
    CHECK(fake.calls == 0);
}

TEST_CASE("a long name is cut to the work path's room") {
    PathBuffers buffers;
    SetPaths("C:\\App", "D:\\setup.exe");
    std::string name(600, 'n');
    CurrentEntries entries{{name.c_str(), KeptFile, SetFolder}};
    memset(WorkPath, 'Z', WorkPathCapacity);
    CHECK_FALSE(ResolveDestination(entries.First()));
    CHECK(std::string(WorkPath) == ("C:\\App\\" + name).substr(0, WorkPathCapacity - 1));
}

TEST_CASE("a shared system file goes where the search says; in use only if that copy is") {
    PathBuffers buffers;
    ScratchFolder scratch(ScratchLabel);
    const char* const fileName = "kelvo-lib.dll";
    const std::string present = scratch.Folder("present");
    const std::string empty = scratch.Folder("empty");
    const std::string locked = scratch.Folder("locked");
    scratch.Make(std::string("present\\") + fileName);
    // A copy nobody else may open, as a running program's library would be.
    const std::string lockedFile = scratch.Make(std::string("locked\\") + fileName);
    HANDLE lock = CreateFileA(lockedFile.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    REQUIRE(lock != INVALID_HANDLE_VALUE);
    const std::string system = RealSystemFolder();

    struct Case {
        const char* what;
        std::string destination;
        std::string current;
        DWORD result;
        std::string expected;
        bool inUse;
    };
    const Case cases[] = {
        {"in use where it goes", present, present, VFF_FILEINUSE, Joined(present, fileName), true},
        {"there and not in use", present, "", 0, Joined(present, fileName), false},
        {"folder with a backslash", present + "\\", "", VFF_FILEINUSE, Joined(present, fileName), true},
        {"the copy in use is elsewhere", empty, present, VFF_FILEINUSE | VFF_CURNEDEST, Joined(empty, fileName),
         false},
        {"no current copy", empty, "", VFF_FILEINUSE, Joined(empty, fileName), false},
        {"locked copy is the one in use", locked, Upper(locked) + "\\", VFF_FILEINUSE, Joined(locked, fileName),
         true},
        {"locked copy not in use", locked, locked, 0, Joined(locked, fileName), false},
        {"locked copy, another in use", locked, present, VFF_FILEINUSE, Joined(locked, fileName), false},
        {"no destination: the system folder", "", "", VFF_FILEINUSE, Joined(system, fileName), false},
    };
    for (const Case& c : cases) {
        CAPTURE(c.what);
        SetPaths("C:\\Apps\\Tool\\", "D:\\setup.exe");
        CurrentEntries entries{{"bin\\kelvo-lib.dll", KeptFile, SystemFolder}};
        FakeSearchInstalled search;
        fake.destination = c.destination;
        fake.current = c.current;
        fake.result = c.result;
        CHECK(ResolveDestination(entries.First()) == c.inUse);
        CHECK(std::string(WorkPath) == c.expected);

        CHECK(fake.calls == 1);
        CHECK(fake.flags == VFFF_ISSHAREDFILE);
        CHECK(fake.fileName == fileName);
        CHECK(fake.windowsFolder == WindowsFolderPath());
        CHECK(fake.appFolder == "C:\\Apps\\Tool");
        CHECK(fake.currentSize == PathCapacity);
        CHECK(fake.destinationSize == PathCapacity);
    }
    CloseHandle(lock);

    // The application folder a drive root keeps its backslash.
    SetPaths("C:\\", "D:\\setup.exe");
    CurrentEntries entries{{fileName, KeptFile, SystemFolder}};
    FakeSearchInstalled search;
    ResolveDestination(entries.First());
    CHECK(fake.appFolder == "C:\\");
}

TEST_CASE("with the real search a shared file goes to the system folder, not in use") {
    PathBuffers buffers;
    ScratchFolder scratch(ScratchLabel);
    const std::string app = scratch.Folder("app");
    const std::string system = RealSystemFolder();
    const std::string pid = std::to_string(GetCurrentProcessId());
    const std::string inSystem = "kelvo-system-" + pid + ".dll";
    const std::string inApp = "kelvo-app-" + pid + ".dll";
    const std::string nowhere = "kelvo-nowhere-" + pid + ".dll";
    scratch.MakeElsewhere(Joined(system, inSystem));
    scratch.Make("app\\" + inApp);

    for (const std::string& name : {inSystem, inApp, nowhere}) {
        CAPTURE(name);
        SetPaths(app + "\\", "D:\\setup.exe");
        CurrentEntries entries{{name.c_str(), KeptFile, SystemFolder}};
        CHECK_FALSE(ResolveDestination(entries.First()));
        CHECK(Upper(WorkPath) == Upper(Joined(system, name)));
    }
}

TEST_CASE("a file reference names an entry, ignoring case, or else a path with macros") {
    PathBuffers buffers;
    SetPaths("C:\\App\\", "D:\\setup.exe");
    const std::string windows = WindowsFolderPath();
    CurrentEntries entries{
        {"readme.txt", KeptFile, SetFolder},
        {"Lib\\Core.DLL", KeptFile, WindowsFolder},
        {"LIB\\core.dll", KeptFile, FontsFolder},  // a later namesake never wins
    };

    struct Case {
        const char* name;
        std::string expected;
    };
    const Case cases[] = {
        {"README.TXT", "C:\\App\\readme.txt"},
        {"lib\\CORE.dll", Joined(windows, "Lib\\Core.DLL")},
        {"#InstallDir#\\notes.txt", "C:\\App\\notes.txt"},
        {"core.dll", "core.dll"},  // names match whole, not by their last part
        {"#Windows#\\readme.txt", Joined(WithoutTrailingBackslash(windows), "readme.txt")},
    };
    for (const Case& c : cases) {
        CAPTURE(c.name);
        ResolveFileReference(c.name);
        CHECK(std::string(WorkPath) == c.expected);
    }

    // An expanded reference gets a path's room, not the work path's.
    std::string longName = "#InstallDir#\\" + std::string(400, 'n');
    memset(WorkPath, 'Z', WorkPathCapacity);
    ResolveFileReference(longName.c_str());
    CHECK(std::string(WorkPath) == ("C:\\App\\" + std::string(400, 'n')).substr(0, PathCapacity - 1));
    CHECK(WorkPath[PathCapacity] == 'Z');
}
