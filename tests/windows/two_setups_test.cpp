// Two products that install the same shared file into the Windows folder
// (tests/fixtures/projects/shared-one and shared-two), installed through
// their wizards and uninstalled with the commands they registered, started
// as the list of installed programs starts them: both count the file, the
// first to go lowers the count and leaves the file without a question, and
// the last asks whether to keep it.
#include <windows.h>

#include <doctest/doctest.h>

#include <string>
#include <vector>

#include "archive/catalogue.h"
#include "archive/uninstall_log_format.h"
#include "tests/support/dialogs.h"
#include "tests/support/setup_driver.h"
#include "tests/support/win32_test_files.h"

namespace {

const char SharedKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const char SharedName[] = "kelvo-shared-common.txt";  // in both projects
const char FinishTitle[] = "Setup Complete";
const DWORD UninstallPatience = 60000;  // ms for an uninstallation from start to report

struct Product {
    std::string project;  // under tests/fixtures/projects
    std::string name;     // display name and uninstall key; its uninstaller's caption is "<name> Uninstall"
    std::string folder;
    std::string ownFile;
};
const Product One = {"shared-one", "Kelvo Shared One", "C:\\Kelvo Shared One", "one.txt"};
const Product Two = {"shared-two", "Kelvo Shared Two", "C:\\Kelvo Shared Two", "two.txt"};

std::string SharedPath() {
    char folder[MAX_PATH] = "";
    GetWindowsDirectoryA(folder, MAX_PATH);
    return std::string(folder) + "\\" + SharedName;
}

std::string UninstallKey(const Product& product) { return UNINSTALL_KEY_PREFIX + product.name; }

std::string InFolder(const Product& product, const std::string& name) { return product.folder + "\\" + name; }

// The count under SharedDLLs, or -1 when there is no value.
long SharedCount() {
    HKEY key;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, SharedKey, &key) != ERROR_SUCCESS) return -1;
    DWORD count = 0, size = sizeof count;
    LONG result = RegQueryValueExA(key, SharedPath().c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&count), &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? static_cast<long>(count) : -1;
}

// The registered uninstall command; "" when the product has no uninstall key.
std::string UninstallCommand(const Product& product) {
    HKEY key;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, UninstallKey(product).c_str(), &key) != ERROR_SUCCESS) return "";
    char command[MAX_PATH * 2] = "";
    DWORD size = sizeof command - 1;
    if (RegQueryValueExA(key, "UninstallString", nullptr, nullptr, reinterpret_cast<BYTE*>(command), &size) !=
        ERROR_SUCCESS)
        size = 0;
    RegCloseKey(key);
    command[size] = '\0';  // stored without its terminator
    return command;
}

bool KeyExists(const std::string& path) {
    HKEY key;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, path.c_str(), &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// Everything the two installations may leave, removed before and after the
// test, also when it fails half-way. Windows always has the SharedDLLs key
// and setup counts nothing without it, so it is made when missing, and kept.
class Traces {
public:
    Traces() {
        Remove();
        HKEY key;
        if (RegCreateKeyA(HKEY_LOCAL_MACHINE, SharedKey, &key) == ERROR_SUCCESS) RegCloseKey(key);
    }
    ~Traces() { Remove(); }
    Traces(const Traces&) = delete;
    Traces& operator=(const Traces&) = delete;

private:
    static void Remove() {
        for (const Product* product : {&One, &Two}) {
            RemoveTree(product->folder);
            RegDeleteKeyA(HKEY_LOCAL_MACHINE, UninstallKey(*product).c_str());
        }
        DeleteFileA(SharedPath().c_str());
        HKEY key;
        if (RegOpenKeyA(HKEY_LOCAL_MACHINE, SharedKey, &key) == ERROR_SUCCESS) {
            RegDeleteValueA(key, SharedPath().c_str());
            RegCloseKey(key);
        }
    }
};

// Installs the product through its wizard as a person would: Next on the
// welcome page, its folder typed into the destination page, Yes to
// creating it, Next on the confirmation page, and the finish page closed.
void Install(const Product& product) {
    CAPTURE(product.name);
    SetupDriver driver(FixtureSetup(product.project));
    REQUIRE(driver.WaitForMainWindow());
    HWND page = driver.WaitForNewPage(nullptr);
    REQUIRE(page != nullptr);
    REQUIRE(driver.ClickFrameButton(FrameNextButton));
    page = driver.WaitForNewPage(page);
    REQUIRE(page != nullptr);
    REQUIRE(driver.SetPageText(FolderEdit, product.folder));
    REQUIRE(driver.ClickFrameButton(FrameNextButton));
    HWND create = driver.WaitForMessageBox();  // the folder is not there yet
    REQUIRE(create != nullptr);
    REQUIRE(SetupDriver::Answer(create, IDYES));
    page = driver.WaitForNewPage(page);
    REQUIRE(page != nullptr);
    REQUIRE(driver.ClickFrameButton(FrameNextButton));
    // The progress page moves on to the finish page by itself.
    while ((page = driver.WaitForNewPage(page)) != nullptr && driver.PageTitle() != FinishTitle) {
    }
    REQUIRE(page != nullptr);
    CHECK(driver.PageText(FirstPageText) == "Setup has finished installing " + product.name + " on your computer.");
    REQUIRE(driver.ClickFrameButton(FrameCancelButton));
    CHECK(driver.WaitForExit() == 0);
}

// The boxes' texts on one line, so a mismatch shows them all.
std::string Joined(const std::vector<std::string>& texts) {
    std::string line;
    for (const std::string& text : texts) line += "[" + text + "] ";
    return line;
}

// The processes of an uninstallation: the one started and each that showed
// a box; ended by force when the test leaves them running.
class Processes {
public:
    ~Processes() {
        for (HANDLE process : handles) {
            if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) TerminateProcess(process, 1);
            CloseHandle(process);
        }
    }
    void Add(HANDLE process) { handles.push_back(process); }
    // Waits for each; false when one has not ended in time.
    bool WaitForAll(DWORD ms) const {
        for (HANDLE process : handles)
            if (WaitForSingleObject(process, ms) != WAIT_OBJECT_0) return false;
        return true;
    }

private:
    std::vector<HANDLE> handles;
};

// The uninstaller's copy in the temporary folder: removed with what its
// restart would have done, as the restart never comes in the test session.
void RemoveCopy(HANDLE copy) {
    char path[MAX_PATH] = "";
    DWORD size = MAX_PATH;
    if (!QueryFullProcessImageNameA(copy, 0, path, &size)) return;
    DeleteFileA(path);
    ForgetPendingOperations(path);
}

// Uninstalls the product as a person would from the list of installed
// programs: runs the command its setup registered, as it stands, and
// answers the boxes of its uninstaller: Yes to the first question (remove
// the product?), `keep` to any later one (keep the shared file?), OK to the
// report. Waits until the uninstaller and the copy it hands over to have
// ended, and returns the texts of the boxes in order.
std::vector<std::string> Uninstall(const Product& product, int keep) {
    CAPTURE(product.name);
    std::string command = UninstallCommand(product);
    REQUIRE(command == InFolder(product, "uninst.exe"));
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    REQUIRE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started));
    CloseHandle(started.hThread);
    Processes processes;
    processes.Add(started.hProcess);

    const std::string caption = product.name + " Uninstall";
    std::vector<std::string> texts;
    HANDLE copy = nullptr;  // the process that showed the report
    for (DWORD start = GetTickCount(); copy == nullptr && GetTickCount() - start < UninstallPatience;) {
        HWND box = WaitForVisibleWindow(DialogWindowClass, caption.c_str(), DialogPollInterval);
        if (box == nullptr) continue;
        texts.push_back(SetupDriver::MessageBoxText(box));
        // The original asks first, then its copy takes over: both are waited for.
        DWORD id = 0;
        GetWindowThreadProcessId(box, &id);
        HANDLE owner = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, id);
        REQUIRE(owner != nullptr);
        processes.Add(owner);
        bool question = SetupDriver::HasButton(box, IDYES);
        if (!question) copy = owner;
        REQUIRE(SetupDriver::Answer(box, !question ? IDOK : texts.size() == 1 ? IDYES : keep));
    }
    INFO("boxes: " << Joined(texts));
    REQUIRE(copy != nullptr);  // the report came
    REQUIRE(processes.WaitForAll(UninstallPatience));
    RemoveCopy(copy);
    return texts;
}

std::string Confirmation(const Product& product) {
    return "Do you want to remove " + product.name + " and all of its components from this computer?";
}

std::string Report(const Product& product) { return product.name + " was removed from this computer."; }

// The product as its setup left it.
void CheckInstalled(const Product& product) {
    CAPTURE(product.name);
    CHECK(FileExists(InFolder(product, product.ownFile)));
    CHECK(FileExists(InFolder(product, "uninst.exe")));
    CHECK(UninstallCommand(product) == InFolder(product, "uninst.exe"));
}

void CheckRemoved(const Product& product) {
    CAPTURE(product.name);
    CHECK_FALSE(FileExists(InFolder(product, product.ownFile)));
    CHECK_FALSE(FileExists(InFolder(product, "uninst.exe")));
    CHECK_FALSE(FileExists(product.folder));
    CHECK_FALSE(KeyExists(UninstallKey(product)));
}

}  // namespace

TEST_CASE("two products count one shared file; the first uninstalled leaves it, the last asks about it") {
    Traces traces;

    Install(One);
    CHECK(SharedCount() == 1);
    Install(Two);
    CheckInstalled(One);
    CheckInstalled(Two);
    CHECK(FileExists(SharedPath()));
    CHECK(SharedCount() == 2);

    // The second still counts the file: no question, the count goes down.
    std::vector<std::string> boxes = Uninstall(One, IDNO);
    CHECK(Joined(boxes) == Joined({Confirmation(One), Report(One)}));
    CheckRemoved(One);
    CHECK(FileExists(SharedPath()));
    CHECK(SharedCount() == 1);
    CheckInstalled(Two);

    // Nobody else counts it now: No to keeping it removes it with its count.
    boxes = Uninstall(Two, IDNO);
    const std::string shown = Joined(boxes);
    CAPTURE(shown);
    REQUIRE(boxes.size() == 3);
    CHECK(boxes[0] == Confirmation(Two));
    CHECK(boxes[1].find(SharedPath()) != std::string::npos);
    CHECK(boxes[1].find("Do you want to keep it?") != std::string::npos);
    CHECK(boxes[2] == Report(Two));
    CheckRemoved(Two);
    CHECK_FALSE(FileExists(SharedPath()));
    CHECK(SharedCount() == -1);
}
