#include "tests/support/win32_test_files.h"

#include <shlobj.h>

#include "archive/loader.h"
#include "archive/script.h"
#include "common/paths.h"

#include <doctest/doctest.h>

#include <algorithm>

namespace {

const DWORD ShareEverything = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool IsFolder(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Deletes a file even when it is read-only.
void RemoveFile(const std::string& path) {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path.c_str());
}

void WriteData(const std::string& path, const void* data, size_t size) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    REQUIRE_MESSAGE(file != INVALID_HANDLE_VALUE, "cannot create " << path);
    DWORD written = 0;
    WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr);
    CloseHandle(file);
    REQUIRE(written == size);
}

}  // namespace

std::string TempFolder() {
    char folder[MAX_PATH];
    REQUIRE(GetTempPathA(sizeof folder, folder) != 0);
    return folder;
}

std::string FixtureSetup(const std::string& project) {
    std::string path = std::string(KELVO_FIXTURE_SETUPS) + "/" + project + ".exe";
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::string ReadWholeFile(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, ShareEverything, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    CHECK_MESSAGE(file != INVALID_HANDLE_VALUE, "cannot open " << path);
    if (file == INVALID_HANDLE_VALUE) return std::string();
    std::string contents;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got != 0) contents.append(buffer, got);
    CloseHandle(file);
    return contents;
}

std::vector<u8> ReadWholeFileBytes(const std::string& path) {
    std::string contents = ReadWholeFile(path);
    return std::vector<u8>(contents.begin(), contents.end());
}

u32 ArchiveOffsetOf(const std::vector<u8>& setup) {
    const u8 marker[] = {0x77, 0x77, 0x67, 0x54, 0x29, 0x48};
    auto found = std::search(setup.begin(), setup.end(), marker, marker + sizeof marker);
    REQUIRE(found != setup.end());
    const u8* value = &*found + sizeof marker;
    return value[0] | (value[1] << 8) | (value[2] << 16) | (static_cast<u32>(value[3]) << 24);
}

u32 PackedDataOffset(const std::string& path, u32 index) {
    REQUIRE(AllocatePathBuffers());
    CopyPath(SourcePath, path.c_str(), PathCapacity);
    REQUIRE(ReadSetupArchive(ArchiveOffsetOf(ReadWholeFileBytes(path)), nullptr) == LoadOk);
    const FileEntry* entry = FileEntryAt(0, index);
    REQUIRE(entry != nullptr);
    u32 at = setupScript.fileDataStart + 4 + entry->dataOffset + entry->storedSize / 2;
    ReleaseSetupScript();
    ReleasePathBuffers();
    return at;
}

void WriteWholeFile(const std::string& path, const std::string& bytes) { WriteData(path, bytes.data(), bytes.size()); }

void WriteWholeFile(const std::string& path, const std::vector<u8>& bytes) {
    WriteData(path, bytes.data(), bytes.size());
}

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool IsReadOnly(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

std::string WindowsFolderPath() {
    char folder[MAX_PATH] = "";
    REQUIRE(GetWindowsDirectoryA(folder, sizeof folder) != 0);
    return folder;
}

std::string ShellFolder(int csidl) {
    char folder[MAX_PATH] = "";
    REQUIRE(SHGetFolderPathA(nullptr, csidl, nullptr, 0, folder) == S_OK);
    return folder;
}

void RemoveTree(const std::string& path) {
    if (!IsFolder(path)) {
        RemoveFile(path);
        return;
    }
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name != "." && name != "..") RemoveTree(path + "\\" + name);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

ScratchFolder::ScratchFolder(const std::string& label)
    : root(TempFolder() + label + "-" + std::to_string(GetCurrentProcessId())) {
    RemoveTree(root);
    CreateDirectoryA(root.c_str(), nullptr);
    REQUIRE_MESSAGE(IsFolder(root), "cannot create " << root);
}

ScratchFolder::~ScratchFolder() {
    for (const std::string& path : elsewhere) RemoveFile(path);
    RemoveTree(root);
}

std::string ScratchFolder::Path(const std::string& name) const { return root + "\\" + name; }

std::string ScratchFolder::Make(const std::string& name, const std::string& contents) const {
    std::string path = Path(name);
    WriteWholeFile(path, contents);
    return path;
}

std::string ScratchFolder::Folder(const std::string& name) const {
    std::string path = Path(name);
    CreateDirectoryA(path.c_str(), nullptr);
    REQUIRE_MESSAGE(IsFolder(path), "cannot create " << path);
    return path;
}

std::string ScratchFolder::MakeElsewhere(const std::string& path, const std::string& contents) {
    elsewhere.push_back(path);
    WriteWholeFile(path, contents);
    return path;
}

static const char SessionManagerKey[] = "System\\CurrentControlSet\\Control\\Session Manager";
static const char PendingValue[] = "PendingFileRenameOperations";

std::vector<std::string> PendingOperations() {
    std::vector<std::string> strings;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SessionManagerKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return strings;
    DWORD type = 0, size = 0;
    std::vector<char> data;
    if (RegQueryValueExA(key, PendingValue, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_MULTI_SZ) {
        data.resize(size + 2);
        RegQueryValueExA(key, PendingValue, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
    }
    RegCloseKey(key);
    for (size_t at = 0; at < size && !data.empty();) {
        std::string text(data.data() + at);
        if (text.empty() && strings.size() % 2 == 0) break;
        strings.push_back(text);
        at += text.size() + 1;
    }
    return strings;
}

void ForgetPendingOperations(const std::string& folder) {
    std::vector<std::string> strings = PendingOperations();
    std::string kept;
    for (size_t i = 0; i + 1 < strings.size(); i += 2) {
        if (strings[i].find(folder) != std::string::npos) continue;
        kept += strings[i] + '\0' + strings[i + 1] + '\0';
    }
    HKEY key;
    REQUIRE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, SessionManagerKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS);
    if (kept.empty()) {
        RegDeleteValueA(key, PendingValue);
    } else {
        kept += '\0';
        RegSetValueExA(key, PendingValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kept.data()),
                       static_cast<DWORD>(kept.size()));
    }
    RegCloseKey(key);
}

