// Extraction places on Windows: each folder below the extraction folder is
// checked not to be a link or junction before it is entered or created, and
// files are made under their folder's path.
#include <windows.h>

#include <string.h>

#include <filesystem>

#include "builder/extract_paths.h"
#include "builder/host_system.h"

namespace {

const int TemporaryNameAttempts = 100;

std::wstring Wide(const std::string& utf8) { return HostPath(utf8).wstring(); }

std::string SystemMessage(DWORD error) {
    std::error_code code(static_cast<int>(error), std::system_category());
    return code.message();
}

// Enters `name` in `parent`, creating it when missing; refuses links.
bool EnterChildFolder(std::string* path, const std::string& name, const std::string& shown, std::string* why) {
    std::string child = *path + "\\" + name;
    DWORD attributes = GetFileAttributesW(Wide(child).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (!CreateDirectoryW(Wide(child).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            *why = "cannot create folder " + shown + ": " + SystemMessage(GetLastError());
            return false;
        }
        attributes = GetFileAttributesW(Wide(child).c_str());
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        *why = "refusing to follow the symbolic link " + shown;
        return false;
    }
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        *why = shown + " exists and is not a folder";
        return false;
    }
    *path = child;
    return true;
}

}  // namespace

PlacedFolder::~PlacedFolder() = default;

std::string PlacedFolder::CheckTarget(const std::string& leaf, const std::string& shown) const {
    DWORD attributes = GetFileAttributesW(Wide(path + "\\" + leaf).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return "";
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return "refusing to replace the symbolic link " + shown;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return shown + " exists and is a folder";
    return "";
}

FileHandle PlacedFolder::CreateTemporary(std::string* name, std::string* why) const {
    DWORD error = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < TemporaryNameAttempts && error == ERROR_FILE_EXISTS; attempt++) {
        *name = ".kelvo-part-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt);
        HANDLE file = CreateFileW(Wide(path + "\\" + *name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) return reinterpret_cast<FileHandle>(file);
        error = GetLastError();
    }
    *why = "cannot create a file: " + SystemMessage(error);
    return NoFile;
}

std::string PlacedFolder::MoveIntoPlace(const std::string& temporary, const std::string& leaf) const {
    if (MoveFileExW(Wide(path + "\\" + temporary).c_str(), Wide(path + "\\" + leaf).c_str(),
                    MOVEFILE_REPLACE_EXISTING))
        return "";
    return "cannot rename into place: " + SystemMessage(GetLastError());
}

void PlacedFolder::Remove(const std::string& temporary) const { DeleteFileW(Wide(path + "\\" + temporary).c_str()); }

void SetLastWriteTime(FileHandle file, uint64_t ticks) {
    FILETIME time = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SetFileTime(reinterpret_cast<HANDLE>(file), nullptr, nullptr, &time);
}

ExtractionFolder::ExtractionFolder(const std::string& path) {
    std::error_code error;
    std::filesystem::create_directories(HostPath(path), error);
    if (error) {
        problem = "cannot create " + path + ": " + error.message();
        return;
    }
    if (!std::filesystem::is_directory(HostPath(path), error)) {
        problem = "cannot open " + path + ": not a folder";
        return;
    }
    root.path = path;
    while (root.path.size() > 1 && (root.path.back() == '\\' || root.path.back() == '/')) root.path.pop_back();
}

ExtractionFolder::~ExtractionFolder() = default;

bool ExtractionFolder::OpenSubfolder(const std::vector<std::string>& components, PlacedFolder* folder,
                                     std::string* why) const {
    std::string path = root.path;
    std::vector<std::string> walked;
    for (const std::string& component : components) {
        walked.push_back(component);
        if (!EnterChildFolder(&path, component, JoinComponents(walked), why)) return false;
    }
    folder->path = path;
    return true;
}
