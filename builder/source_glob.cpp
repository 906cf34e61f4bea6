#include "builder/source_glob.h"

#include <algorithm>
#include <filesystem>

#include "builder/host_system.h"
#include "builder/source_files.h"

namespace fs = std::filesystem;

namespace {

const char* const AnyFolders = "**";

// The length of the UTF-8 character starting with `lead` (1 for a stray byte).
size_t CharacterLength(unsigned char lead) {
    return lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

// Whether the bracket expression at pattern[p] ('[' on) takes the character
// name[q..]; *end is set past its ']'. "[!...]" and "[^...]" negate, "a-z"
// is a range of code units; a ']' first in the set is taken literally.
// Returns false with *end == p when there is no closing ']', and the '['
// then stands for itself.
bool BracketTakes(const std::string& pattern, size_t p, const std::string& name, size_t q, size_t* end) {
    size_t i = p + 1;
    bool negate = i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^');
    if (negate) i++;
    size_t length = CharacterLength(static_cast<unsigned char>(name[q]));
    std::string c = name.substr(q, length);
    bool taken = false;
    for (bool first = true; i < pattern.size() && (first || pattern[i] != ']'); first = false) {
        size_t n = CharacterLength(static_cast<unsigned char>(pattern[i]));
        std::string low = pattern.substr(i, n);
        i += n;
        if (i + 1 < pattern.size() && pattern[i] == '-' && pattern[i + 1] != ']') {
            size_t m = CharacterLength(static_cast<unsigned char>(pattern[i + 1]));
            std::string high = pattern.substr(i + 1, m);
            i += 1 + m;
            taken = taken || (low <= c && c <= high);
        } else {
            taken = taken || c == low;
        }
    }
    if (i >= pattern.size()) {
        *end = p;
        return false;
    }
    *end = i + 1;
    return taken != negate;
}

// One path component against one pattern component: '*' any run of
// characters, '?' one character, '[...]' one of a set; a leading dot is
// matched only by a dot. The same rules on every system, so a project
// builds the same setup wherever it is built.
bool MatchName(const std::string& pattern, const std::string& name) {
    if (!name.empty() && name[0] == '.' && (pattern.empty() || pattern[0] != '.')) return false;
    size_t p = 0, q = 0;
    size_t starP = std::string::npos, starQ = 0;  // where to resume after the last '*'
    while (q < name.size()) {
        size_t step = CharacterLength(static_cast<unsigned char>(name[q]));
        size_t end = p;
        if (p < pattern.size() && pattern[p] == '*') {
            starP = ++p;
            starQ = q;
            continue;
        }
        if (p < pattern.size() && pattern[p] == '?') {
            p++;
            q += step;
            continue;
        }
        if (p < pattern.size() && pattern[p] == '[' && BracketTakes(pattern, p, name, q, &end)) {
            p = end;
            q += step;
            continue;
        }
        bool literal = p < pattern.size() && end == p && pattern[p] == name[q];
        if (literal) {
            p++;
            q++;
            continue;
        }
        if (starP == std::string::npos) return false;
        p = starP;  // let the last '*' take one more character
        starQ += CharacterLength(static_cast<unsigned char>(name[starQ]));
        q = starQ;
    }
    while (p < pattern.size() && pattern[p] == '*') p++;
    return p == pattern.size();
}

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
    return q < parts.size() && MatchName(pattern[p], parts[q]) &&
           MatchComponents(pattern, p + 1, parts, q + 1);
}

}  // namespace

bool HasWildcards(const std::string& pattern) { return pattern.find_first_of("*?[") != std::string::npos; }

std::vector<GlobMatch> ExpandGlob(const SourceFiles& files, const std::string& baseFolder, const std::string& pattern) {
    std::vector<std::string> components = SplitComponents(pattern);
    size_t fixed = 0;
    // An absolute pattern ("/data/*", "C:/data/*") starts at its own root.
    std::string root = IsAbsoluteProjectPath(pattern) ? pattern.substr(0, pattern.find('/') + 1)
                       : baseFolder.empty()           ? "."
                                                      : baseFolder;
    if (IsAbsoluteProjectPath(pattern) && root != "/") components.erase(components.begin());  // the drive
    fs::path folder = HostPath(root);
    while (fixed < components.size() && !HasWildcards(components[fixed])) folder /= HostPath(components[fixed++]);
    std::vector<std::string> rest(components.begin() + static_cast<long>(fixed), components.end());
    bool anyDepth = std::find(rest.begin(), rest.end(), AnyFolders) != rest.end();
    size_t maxDepth = anyDepth ? SIZE_MAX : rest.size() - 1;

    std::vector<GlobMatch> matches;
    if (rest.empty() || files.KindOf(Utf8Path(folder)) != SourceKind::Folder) return matches;
    for (const std::string& relative : files.ListFiles(Utf8Path(folder), maxDepth)) {
        if (MatchComponents(rest, 0, SplitComponents(relative), 0))
            matches.push_back({Utf8Path(folder) + "/" + relative, relative});
    }
    std::sort(matches.begin(), matches.end(),
              [](const GlobMatch& a, const GlobMatch& b) { return a.relative < b.relative; });
    return matches;
}
