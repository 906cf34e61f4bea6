// Shortcuts in the prefix's real program menu, start menu and startup folder,
// read back through the shell's link object: target, arguments, working
// folder and icon, the folders each folder list names, and what the
// uninstall log would be told. Every link and folder made is removed again.
#include <windows.h>
#include <shlobj.h>

#include <doctest/doctest.h>

#include <string>
#include <utility>
#include <vector>

#include "common/paths.h"
#include "engine/shortcuts.h"
#include "tests/support/shaped_entries.h"
#include "tests/support/win32_test_files.h"

namespace {

// The component library, and the path buffers with DestinationPath set to
// the scratch folder; the process leaves the folders it entered at the end.
class ShortcutSetting {
public:
    ShortcutSetting() : scratch("shortcuts") {
        REQUIRE(SUCCEEDED(OleInitialize(nullptr)));
        REQUIRE(AllocatePathBuffers());
        CopyPath(DestinationPath, (scratch.Root() + "\\").c_str(), PathCapacity);
    }
    ~ShortcutSetting() {
        SetCurrentDirectoryA(TempFolder().c_str());
        for (auto made = madeFiles.rbegin(); made != madeFiles.rend(); ++made) DeleteFileA(made->c_str());
        for (auto made = madeFolders.rbegin(); made != madeFolders.rend(); ++made) RemoveDirectoryA(made->c_str());
        ReleasePathBuffers();
        OleUninitialize();
    }
    // Removed at the end, whether or not the test made it.
    void WillRemoveFile(const std::string& path) { madeFiles.push_back(path); }
    void WillRemoveFolder(const std::string& path) { madeFolders.push_back(path); }

    ScratchFolder scratch;

private:
    std::vector<std::string> madeFiles;
    std::vector<std::string> madeFolders;
};

// A name no other test program running beside this one uses.
std::string Unique(const std::string& name) { return name + " " + std::to_string(GetCurrentProcessId()); }

struct LinkFields {
    std::string target;
    std::string arguments;
    std::string workingFolder;
    std::string iconPath;
    int iconIndex = -1;
};

// The link at `path` as the shell's link object reads it; false when it
// cannot be loaded.
bool ReadLink(const std::string& path, LinkFields* fields) {
    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link))))
        return false;
    IPersistFile* file = nullptr;
    WCHAR widePath[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, widePath, MAX_PATH);
    bool loaded = SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
                  SUCCEEDED(file->Load(widePath, STGM_READ));
    if (file != nullptr) file->Release();
    if (loaded) {
        char text[MAX_PATH];
        text[0] = '\0';
        link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH);
        fields->target = text;
        text[0] = '\0';
        link->GetArguments(text, MAX_PATH);
        fields->arguments = text;
        text[0] = '\0';
        link->GetWorkingDirectory(text, MAX_PATH);
        fields->workingFolder = text;
        text[0] = '\0';
        link->GetIconLocation(text, MAX_PATH, &fields->iconIndex);
        fields->iconPath = text;
    }
    link->Release();
    return loaded;
}

std::vector<std::pair<std::string, std::string>> recorded;

void RecordShortcut(const char* folder, const char* fileName) { recorded.emplace_back(folder, fileName); }

std::string CurrentFolder() {
    char folder[MAX_PATH] = "";
    GetCurrentDirectoryA(MAX_PATH, folder);
    return folder;
}

}  // namespace

TEST_CASE("a folder list of a menu folder and the startup folder makes one link in each, told to the recorder") {
    ShortcutSetting setting;
    setting.scratch.Folder("bin");
    std::string target = setting.scratch.Make("bin\\editor.exe", "MZ");
    std::string tools = Unique("Kelvo Tools");
    std::string name = Unique("Kelvo Editor");
    std::string programsFolder = ShellFolder(CSIDL_PROGRAMS) + "\\" + tools;
    std::string startupFolder = ShellFolder(CSIDL_STARTUP);
    std::string fileName = name + ".lnk";
    setting.WillRemoveFile(programsFolder + "\\" + fileName);
    setting.WillRemoveFile(startupFolder + "\\" + fileName);
    setting.WillRemoveFolder(programsFolder);
    std::string folders = tools + ";#Startup#";
    ShapedEntries entries{{"bin\\editor.exe", folders.c_str(), name.c_str(), "--open \"notes.txt\"", "", "", 3}};

    recorded.clear();
    CreateProgramShortcuts(RecordShortcut);

    for (const std::string& folder : {programsFolder, startupFolder}) {
        CAPTURE(folder);
        LinkFields link;
        REQUIRE(ReadLink(folder + "\\" + fileName, &link));
        CHECK(link.target == target);
        CHECK(link.arguments == "--open \"notes.txt\"");
        CHECK(link.workingFolder == setting.scratch.Root() + "\\bin");
        CHECK(link.iconPath == target);
        CHECK(link.iconIndex == 3);
    }
    std::vector<std::pair<std::string, std::string>> expected = {{programsFolder, fileName},
                                                                  {startupFolder, fileName}};
    CHECK(recorded == expected);
    CHECK(lstrcmpiA(CurrentFolder().c_str(), startupFolder.c_str()) == 0);  // the last folder made
}

TEST_CASE("each item of a folder list names one folder; missing levels are made") {
    struct Case {
        const char* list;  // "@" stands for this process's own folder name
        // Each link's shell folder and subfolder ("" for the shell folder itself).
        std::vector<std::pair<int, const char*>> folders;
    };
    const Case cases[] = {
        {"", {{CSIDL_PROGRAMS, ""}}},
        {"@;", {{CSIDL_PROGRAMS, "@"}}},
        {";@", {{CSIDL_PROGRAMS, ""}, {CSIDL_PROGRAMS, "@"}}},
        {"#start menu#;#STARTUP#", {{CSIDL_STARTMENU, ""}, {CSIDL_STARTUP, ""}}},
        {"@\\Nested\\Deeper", {{CSIDL_PROGRAMS, "@\\Nested\\Deeper"}}},
    };
    for (const Case& test : cases) {
        CAPTURE(test.list);
        ShortcutSetting setting;
        setting.scratch.Make("tool.exe", "MZ");
        std::string own = Unique("Kelvo Menu");
        std::string name = Unique("Kelvo Tool");
        std::string list = test.list;
        for (size_t at; (at = list.find('@')) != std::string::npos;) list.replace(at, 1, own);
        std::vector<std::pair<std::string, std::string>> expected;
        for (const auto& place : test.folders) {
            std::string folder = ShellFolder(place.first);
            std::string sub = place.second;
            if (!sub.empty()) {
                sub.replace(sub.find('@'), 1, own);
                folder += "\\" + sub;
            }
            expected.emplace_back(folder, name + ".lnk");
            setting.WillRemoveFile(folder + "\\" + name + ".lnk");
        }
        std::string programs = ShellFolder(CSIDL_PROGRAMS) + "\\" + own;
        for (const char* level : {"", "\\Nested", "\\Nested\\Deeper"}) setting.WillRemoveFolder(programs + level);
        ShapedEntries entries{{"tool.exe", list.c_str(), name.c_str()}};

        recorded.clear();
        CreateProgramShortcuts(RecordShortcut);

        CHECK(recorded == expected);
        for (const auto& made : expected) {
            LinkFields link;
            CHECK(ReadLink(made.first + "\\" + made.second, &link));
            CHECK(link.target == setting.scratch.Path("tool.exe"));
            CHECK(link.iconPath.empty());  // icon index 0 sets none
        }
    }
}

TEST_CASE("only entries with a shortcut name get shortcuts, in list order, and work without a recorder") {
    ShortcutSetting setting;
    std::string own = Unique("Kelvo Order");
    std::string folder = ShellFolder(CSIDL_PROGRAMS) + "\\" + own;
    std::string first = Unique("Kelvo First");
    std::string second = Unique("Kelvo Second");
    setting.WillRemoveFile(folder + "\\" + first + ".lnk");
    setting.WillRemoveFile(folder + "\\" + second + ".lnk");
    setting.WillRemoveFolder(folder);
    ShapedEntries entries{{"a.exe", own.c_str(), first.c_str()},
                          {"unnamed.exe", own.c_str(), ""},
                          {"sub\\b.exe", own.c_str(), second.c_str(), "-b"}};

    recorded.clear();
    CreateProgramShortcuts(RecordShortcut);
    std::vector<std::pair<std::string, std::string>> expected = {{folder, first + ".lnk"},
                                                                  {folder, second + ".lnk"}};
    CHECK(recorded == expected);
    LinkFields link;
    REQUIRE(ReadLink(folder + "\\" + second + ".lnk", &link));
    CHECK(link.target == setting.scratch.Root() + "\\sub\\b.exe");  // a file that is not there yet, too
    CHECK(link.arguments == "-b");

    // Without a recorder the same links are made again, over the old ones.
    DeleteFileA((folder + "\\" + first + ".lnk").c_str());
    CreateProgramShortcuts();
    CHECK(FileExists(folder + "\\" + first + ".lnk"));
}

TEST_CASE("a folder that cannot be made gets no shortcut and no record") {
    ShortcutSetting setting;
    std::string blocker = ShellFolder(CSIDL_PROGRAMS) + "\\" + Unique("Kelvo Blocker");
    setting.WillRemoveFile(blocker);
    WriteWholeFile(blocker, "a file where a folder should go");
    std::string list = Unique("Kelvo Blocker") + "\\Sub";
    std::string name = Unique("Kelvo Blocked");
    ShapedEntries entries{{"a.exe", list.c_str(), name.c_str()}};

    recorded.clear();
    CreateProgramShortcuts(RecordShortcut);

    CHECK(recorded.empty());
    CHECK_FALSE(FileExists(blocker + "\\Sub"));
}

TEST_CASE("a single shortcut: no working folder without a backslash, no icon for 0, a link path too long is refused") {
    ShortcutSetting setting;
    std::string link = setting.scratch.Path("plain.lnk");
    REQUIRE(CreateShortcut("kelvo-plain.exe", link.c_str(), nullptr, 0));
    LinkFields fields;
    REQUIRE(ReadLink(link, &fields));
    CHECK(fields.workingFolder.empty());
    CHECK(fields.arguments.empty());
    CHECK(fields.iconPath.empty());

    // Longer than the wide-character conversion takes: nothing is written,
    // not even under a cut name.
    std::string longLink = setting.scratch.Root() + "\\" + std::string(300, 'x') + ".lnk";
    CHECK_FALSE(CreateShortcut("C:\\kelvo.exe", longLink.c_str(), "", 0));
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((setting.scratch.Root() + "\\x*").c_str(), &found);
    CHECK(search == INVALID_HANDLE_VALUE);
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
}
