// Safe places for extracted entries. Names in an archive are untrusted
// Windows paths; `kelvo extract` must never write outside the folder it was
// given, whatever they say and whatever symbolic links that folder holds.
#pragma once
#include <string>
#include <vector>

// Why `name` (a path relative to an install folder, backslashes or slashes
// between components) cannot be written safely, or "" when it can. Refused:
// empty names and components, absolute and UNC names, drive letters and
// stream names (any ':'), "." and "..", components ending in a dot or space
// (Windows drops those, so "... " would mean ".."), characters Windows does
// not allow in names, and device names such as CON or LPT1.
std::string UnsafeNameReason(const std::string& name);

// The components of a name that UnsafeNameReason accepted.
std::vector<std::string> NameComponents(const std::string& name);

// The folder every extracted entry goes under, opened once. Each step below
// it is opened relative to its parent without following symbolic links, so
// a link planted inside it (to anywhere) is refused rather than followed.
class ExtractionFolder {
public:
    // Creates `path` (and its parents) when missing and opens it.
    explicit ExtractionFolder(const std::string& path);
    ~ExtractionFolder();
    ExtractionFolder(const ExtractionFolder&) = delete;
    ExtractionFolder& operator=(const ExtractionFolder&) = delete;

    bool IsOpen() const { return fd >= 0; }
    const std::string& Problem() const { return problem; }

    // Opens the folder `components` below this one, creating what is
    // missing. Returns a descriptor the caller closes, or -1 with *why set.
    int OpenSubfolder(const std::vector<std::string>& components, std::string* why) const;

private:
    int fd = -1;
    std::string problem;
};

// "bin/app.exe": how the report shows a place below the extraction folder.
std::string JoinComponents(const std::vector<std::string>& components);
