// Expansion of the `source` globs of a project's [[set.file]] entries.
#pragma once
#include <string>
#include <vector>

class SourceFiles;

struct GlobMatch {
    std::string path;      // the file, as the base folder joined with the relative path
    std::string relative;  // its path below the pattern's leading fixed folders, '/'-separated
};

// True when `pattern` holds '*', '?' or '['.
bool HasWildcards(const std::string& pattern);

// The regular files of `files` matching `pattern` ('/'-separated, relative
// to `baseFolder`).
// '*', '?' and '[...]' match within one path component and never a leading
// dot; a "**" component matches any number of folders, hidden ones excepted.
// The result is sorted by relative path, so it never depends on the order
// the file system lists a folder in.
std::vector<GlobMatch> ExpandGlob(const SourceFiles& files, const std::string& baseFolder, const std::string& pattern);
