#include "builder/source_files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "builder/dialog_resources.h"
#include "builder/whole_file.h"

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------
// The disk

SourceKind DiskSourceFiles::KindOf(const std::string& path) const {
    std::error_code error;
    fs::file_status status = fs::status(HostPath(path), error);
    if (fs::is_regular_file(status)) return SourceKind::File;
    if (fs::is_directory(status)) return SourceKind::Folder;
    return fs::exists(status) ? SourceKind::Other : SourceKind::Missing;
}

Bytes DiskSourceFiles::Read(const std::string& path) const { return ReadWholeFile(path); }

bool DiskSourceFiles::Identify(const std::string& path, FileIdentity* identity, int* error) const {
    return IdentifyFile(path, identity, error);
}

bool DiskSourceFiles::LastWriteTime(const std::string& path, uint64_t* ticks) const {
    return ReadLastWriteTime(path, ticks);
}

std::vector<std::string> DiskSourceFiles::ListFiles(const std::string& folder, size_t maxDepth) const {
    std::vector<std::string> files;
    fs::path root = HostPath(folder);
    std::error_code error;
    fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, error), end;
    for (; !error && it != end; it.increment(error)) {
        if (static_cast<size_t>(it.depth()) >= maxDepth) it.disable_recursion_pending();
        if (it->is_regular_file(error)) {
            std::string relative = Utf8Path(it->path().lexically_relative(root));
            std::replace(relative.begin(), relative.end(), '\\', '/');
            files.push_back(relative);
        }
    }
    return files;
}

Bytes DiskSourceFiles::CompileResourceScript(const std::string& path) const { return RunResourceCompiler(path); }

const SourceFiles& Disk() {
    static const DiskSourceFiles disk;
    return disk;
}

// ---------------------------------------------------------------------------
// Memory

std::string LexicalSourcePath(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = std::min(path.find('/', start), path.size());
        std::string part = path.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty() && parts.back() != "..") parts.pop_back();
            else if (path.empty() || path[0] != '/') parts.push_back(part);
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string joined = !path.empty() && path[0] == '/' ? "/" : "";
    for (size_t i = 0; i < parts.size(); i++) joined += (i == 0 ? "" : "/") + parts[i];
    return joined;
}

namespace {

// What a path below `folder` starts with ("" for the current folder).
std::string FolderPrefix(const std::string& folder) {
    return folder.empty() || folder.back() == '/' ? folder : folder + "/";
}

bool IsBelow(const std::string& path, const std::string& prefix) {
    if (prefix.empty()) return path.empty() || path[0] != '/';
    return path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

void MemorySourceFiles::Add(const std::string& path, Bytes contents) {
    File& file = files[LexicalSourcePath(path)];
    file.contents = std::move(contents);
    file.number = files.size();
}

void MemorySourceFiles::AddCompiledScript(const std::string& path, Bytes resources) {
    compiledScripts[LexicalSourcePath(path)] = std::move(resources);
}

void MemorySourceFiles::SetLastWriteTime(const std::string& path, uint64_t ticks) {
    auto found = files.find(LexicalSourcePath(path));
    if (found != files.end()) found->second.lastWrite = ticks;
}

SourceKind MemorySourceFiles::KindOf(const std::string& path) const {
    std::string key = LexicalSourcePath(path);
    if (files.count(key) != 0) return SourceKind::File;
    std::string prefix = FolderPrefix(key);
    if (key.empty() || key == "/") return SourceKind::Folder;
    auto next = files.lower_bound(prefix);
    return next != files.end() && IsBelow(next->first, prefix) ? SourceKind::Folder : SourceKind::Missing;
}

Bytes MemorySourceFiles::Read(const std::string& path) const {
    auto found = files.find(LexicalSourcePath(path));
    if (found == files.end()) {
        int error = KindOf(path) == SourceKind::Folder ? EISDIR : ENOENT;
        throw FileReadError("cannot open " + path + ": " + strerror(error), error);
    }
    return found->second.contents;
}

bool MemorySourceFiles::Identify(const std::string& path, FileIdentity* identity, int* error) const {
    auto found = files.find(LexicalSourcePath(path));
    if (found == files.end()) {
        *error = ENOENT;
        return false;
    }
    *identity = {0, found->second.number, found->second.contents.size()};
    return true;
}

bool MemorySourceFiles::LastWriteTime(const std::string& path, uint64_t* ticks) const {
    auto found = files.find(LexicalSourcePath(path));
    if (found == files.end()) return false;
    *ticks = found->second.lastWrite;
    return true;
}

std::vector<std::string> MemorySourceFiles::ListFiles(const std::string& folder, size_t maxDepth) const {
    std::string prefix = FolderPrefix(LexicalSourcePath(folder));
    std::vector<std::string> list;
    // Below a named folder the paths are one run of the map; below the
    // current folder, every relative path.
    for (auto it = files.lower_bound(prefix); it != files.end(); ++it) {
        if (!IsBelow(it->first, prefix)) {
            if (prefix.empty()) continue;
            break;
        }
        std::string relative = it->first.substr(prefix.size());
        if (static_cast<size_t>(std::count(relative.begin(), relative.end(), '/')) <= maxDepth)
            list.push_back(relative);
    }
    return list;
}

Bytes MemorySourceFiles::CompileResourceScript(const std::string& path) const {
    auto found = compiledScripts.find(LexicalSourcePath(path));
    if (found == compiledScripts.end()) throw std::runtime_error("cannot compile " + path + ": no such script");
    return found->second;
}
