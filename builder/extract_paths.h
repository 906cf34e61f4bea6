// Safe places for extracted entries. Names in an archive are untrusted
// Windows paths; `kelvo extract` must never write outside the folder it was
// given, whatever they say and whatever symbolic links that folder holds.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "common/file.h"

// Why `name` (a path relative to an install folder, backslashes or slashes
// between components) cannot be written safely, or "" when it can. Refused:
// empty names and components, absolute and UNC names, drive letters and
// stream names (any ':'), "." and "..", components ending in a dot or space
// (Windows drops those, so "... " would mean ".."), characters Windows does
// not allow in names, and device names such as CON or LPT1.
std::string UnsafeNameReason(const std::string& name);

// The components of a name that UnsafeNameReason accepted.
std::vector<std::string> NameComponents(const std::string& name);

// A folder below the extraction folder, reached by OpenSubfolder. The
// extracted files are written through it: each into a new temporary file
// that is renamed over its place only when its contents check out.
class PlacedFolder {
public:
    PlacedFolder() = default;
    ~PlacedFolder();
    PlacedFolder(const PlacedFolder&) = delete;
    PlacedFolder& operator=(const PlacedFolder&) = delete;

    // Why `leaf` cannot be written here, or "": an existing link or folder
    // in its place is refused (renaming over a link would not follow it,
    // but the archive must not silently replace it). `shown` names it.
    std::string CheckTarget(const std::string& leaf, const std::string& shown) const;
    // A new temporary file, open for writing, and its name in *name; NoFile
    // with the reason in *why when none can be made.
    FileHandle CreateTemporary(std::string* name, std::string* why) const;
    // Renames the temporary file to `leaf`; returns why it could not, or "".
    std::string MoveIntoPlace(const std::string& temporary, const std::string& leaf) const;
    void Remove(const std::string& temporary) const;

private:
    friend class ExtractionFolder;
    intptr_t fd = -1;  // a descriptor of the folder on POSIX systems
    std::string path;  // its path on Windows
};

// Sets an open file's last write time, in 100-nanosecond ticks since 1601.
void SetLastWriteTime(FileHandle file, uint64_t ticks);

// The folder every extracted entry goes under, opened once. Each step below
// it is opened relative to its parent without following symbolic links, so
// a link planted inside it (to anywhere) is refused rather than followed
// (on Windows: each step is checked not to be a link or junction).
class ExtractionFolder {
public:
    // Creates `path` (and its parents) when missing and opens it.
    explicit ExtractionFolder(const std::string& path);
    ~ExtractionFolder();
    ExtractionFolder(const ExtractionFolder&) = delete;
    ExtractionFolder& operator=(const ExtractionFolder&) = delete;

    bool IsOpen() const { return root.fd >= 0 || !root.path.empty(); }
    const std::string& Problem() const { return problem; }

    // Opens the folder `components` below this one into *folder, creating
    // what is missing. False with *why set when it cannot.
    bool OpenSubfolder(const std::vector<std::string>& components, PlacedFolder* folder, std::string* why) const;

private:
    PlacedFolder root;
    std::string problem;
};

// "bin/app.exe": how the report shows a place below the extraction folder.
std::string JoinComponents(const std::vector<std::string>& components);
