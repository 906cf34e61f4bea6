// Paths in a double-byte code page: this test runs with LANG=ja_JP.UTF-8
// (CMakeLists.txt), so Wine's ANSI code page is 932, Shift-JIS. There "ソ"
// is 0x83 0x5C and "表" 0x95 0x5C: their second byte is a backslash. The
// fixture setup tests/fixtures/projects/dbcs-paths is installed in this
// process into folders with such names and with such file names, and its
// uninstaller removes it again.
#include <windows.h>

#include <doctest/doctest.h>

#include <string>

#include "common/helpers.h"
#include "engine/short_paths.h"
#include "tests/windows/support/code_page_setup.h"
#include "uninstall/uninstall_start.h"

using namespace code_page_setup;

namespace {

#define SO "\x83\x5C"
#define HYO "\x95\x5C"
#define W_SO L"\u30BD"
#define W_HYO L"\u8868"

const char Root[] = "C:\\Kelvo " SO HYO;
// Deep enough that the progress text is shortened.
const char Destination[] = "C:\\Kelvo " SO HYO "\\" HYO HYO HYO HYO HYO HYO "\\" SO "\\";
const std::wstring WideRoot = L"C:\\Kelvo " W_SO W_HYO;
const std::wstring WideDestination = WideRoot + L"\\" W_HYO W_HYO W_HYO W_HYO W_HYO W_HYO L"\\" W_SO L"\\";

// `text` (Shift-JIS) in UTF-16; empty when it is no whole Shift-JIS text,
// such as a text cut inside a character.
std::wstring FromShiftJis(const std::string& text) {
    int length = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    if (length > 0)
        MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

bool StartsWith(const std::wstring& text, const std::wstring& start) { return text.compare(0, start.size(), start) == 0; }

// A counted text of the uninstall log: 16-bit length, then the bytes.
std::string Counted(const std::string& text) {
    std::string out;
    out += static_cast<char>(text.size() & 0xFF);
    out += static_cast<char>(text.size() >> 8);
    return out + text;
}

}  // namespace

TEST_CASE("the system code page here is Shift-JIS") {
    REQUIRE(GetACP() == 932);
    CHECK(IsLeadByte('\x83'));
    CHECK_FALSE(IsLeadByte('\\'));
}

TEST_CASE("a set installs into Shift-JIS folders, logs their names and its uninstaller removes them all") {
    REQUIRE(GetACP() == 932);
    RemoveTree(Root);
    std::string uninstaller;
    {
        InstalledSet set(Destination, true);
        uninstaller = set.uninstaller;
    }
    // The folders and files have the characters' own names on disk.
    const std::wstring installed[] = {
        WideDestination + W_SO W_HYO L".txt",
        WideDestination + W_SO L"\\" W_HYO L"\\a" W_HYO L".txt",
        WideDestination + W_HYO W_SO,
        WideDestination + L"uninst.exe",
    };
    for (size_t i = 0; i < sizeof installed / sizeof installed[0]; i++) {
        CAPTURE(i);
        CHECK(ExistsWide(installed[i]));
    }
    CHECK(FromShiftJis(uninstaller) == WideDestination + L"uninst.exe");

    // Each progress text is whole Shift-JIS; a shortened one keeps a leading
    // part of a folder up to a backslash of its own and the whole file name.
    bool shortened = false;
    for (const std::string& item : ShownItems()) {
        CAPTURE(item);
        std::wstring wide = FromShiftJis(item);
        REQUIRE(!wide.empty());
        size_t dots = wide.find(L"...\\");
        if (dots == std::wstring::npos) continue;
        shortened = true;
        std::wstring head = wide.substr(0, dots), tail = wide.substr(dots + 3);
        CHECK(head.back() == L'\\');
        CHECK(StartsWith(WideDestination + W_SO L"\\" W_HYO L"\\", head));
        CHECK(tail.rfind(L'\\') == 0);  // the file name alone
    }
    CHECK(shortened);

    // The log names each file by its folder, relative to the destination,
    // and its name: split at the last backslash of its own.
    std::string log = ReadWholeFile(uninstaller);
    const std::string records[] = {
        Counted(".\\" HYO SO) + Counted("") + '\0',
        Counted(".") + Counted(SO HYO ".txt") + '\0',
        Counted(".\\" SO "\\" HYO) + Counted("a" HYO ".txt") + '\0',
    };
    for (const std::string& record : records) CHECK(log.find(record) != std::string::npos);

    CHECK(RunUninstaller(FromShiftJis(uninstaller)) == UninstallDone);
    CHECK(GoneWide(FromShiftJis(uninstaller)));
    for (size_t i = 0; i < sizeof installed / sizeof installed[0]; i++) {
        CAPTURE(i);
        CHECK(!ExistsWide(installed[i]));
    }
    CHECK(!ExistsWide(WideDestination));  // emptied, so it went too
    RemoveTree(Root);
}

TEST_CASE("the progress text of a Shift-JIS path is cut at its own backslashes") {
    REQUIRE(GetACP() == 932);
    // Byte by byte, every "ソ" and "表" would end in a folder.
    char text[] = "C:\\" SO HYO SO HYO SO HYO SO HYO SO HYO SO HYO "\\" HYO "\\" SO ".txt";
    ShortenPath(text, ProgressItemLimit);
    CHECK(std::string(text) == "C:\\...\\" SO ".txt");
}
