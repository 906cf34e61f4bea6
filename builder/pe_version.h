// The version block of a file entry, read from the source file's version
// resource: the file version of its VS_FIXEDFILEINFO and the language of
// the first translation its VarFileInfo lists.
#pragma once
#include <optional>
#include <string>

#include "archive/records.h"
#include "builder/source_files.h"

// nullopt when the file is not a PE image or holds no version resource.
std::optional<VersionBlock> ReadPeVersion(const Bytes& image);
// The same for file `path` of `files`; nullopt too when it cannot be read.
std::optional<VersionBlock> ReadPeVersion(const SourceFiles& files, const std::string& path);
