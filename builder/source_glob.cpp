#include "builder/source_glob.h"

#include <fnmatch.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

const char* const AnyFolders = "**";

std::vector<std::string> SplitComponents(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

bool MatchComponents(const std::vector<std::string>& pattern, size_t p, const std::vector<std::string>& parts,
                     size_t q) {
    if (p == pattern.size()) return q == parts.size();
    if (pattern[p] == AnyFolders) {
        for (size_t k = q; k <= parts.size(); k++) {
            if (k > q && parts[k - 1][0] == '.') break;  // "**" does not enter hidden folders
            if (MatchComponents(pattern, p + 1, parts, k)) return true;
        }
        return false;
    }
    return q < parts.size() && fnmatch(pattern[p].c_str(), parts[q].c_str(), FNM_PERIOD) == 0 &&
           MatchComponents(pattern, p + 1, parts, q + 1);
}

// Every regular file below `folder`, at most `maxDepth` folders down.
std::vector<std::string> ListFiles(const fs::path& folder, size_t maxDepth) {
    std::vector<std::string> files;
    std::error_code error;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, error), end;
    for (; !error && it != end; it.increment(error)) {
        if (static_cast<size_t>(it.depth()) >= maxDepth) it.disable_recursion_pending();
        if (it->is_regular_file(error)) files.push_back(it->path().lexically_relative(folder).generic_string());
    }
    return files;
}

}  // namespace

bool HasWildcards(const std::string& pattern) { return pattern.find_first_of("*?[") != std::string::npos; }

std::vector<GlobMatch> ExpandGlob(const std::string& baseFolder, const std::string& pattern) {
    std::vector<std::string> components = SplitComponents(pattern);
    size_t fixed = 0;
    fs::path folder = baseFolder.empty() ? fs::path(".") : fs::path(baseFolder);
    while (fixed < components.size() && !HasWildcards(components[fixed])) folder /= components[fixed++];
    std::vector<std::string> rest(components.begin() + static_cast<long>(fixed), components.end());
    bool anyDepth = std::find(rest.begin(), rest.end(), AnyFolders) != rest.end();
    size_t maxDepth = anyDepth ? SIZE_MAX : rest.size() - 1;

    std::vector<GlobMatch> matches;
    if (rest.empty() || !fs::is_directory(folder)) return matches;
    for (const std::string& relative : ListFiles(folder, maxDepth)) {
        if (MatchComponents(rest, 0, SplitComponents(relative), 0))
            matches.push_back({(folder / relative).generic_string(), relative});
    }
    std::sort(matches.begin(), matches.end(),
              [](const GlobMatch& a, const GlobMatch& b) { return a.relative < b.relative; });
    return matches;
}
