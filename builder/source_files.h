// Where kelvo takes a project's files from: the project description, its
// sources, pictures, templates and programs. The project reader and the
// archive builder ask this for every such file, so a project can be read and
// built from the disk (DiskSourceFiles, what kelvo uses) or from files held
// in memory (MemorySourceFiles, for the tests and the fuzzers).
//
// Paths are UTF-8 and '/'-separated, as the project reader makes them. Every
// member is safe to call from several threads at once: the packing threads
// read sources side by side.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "builder/host_system.h"
#include "builder/record_writer.h"

enum class SourceKind { Missing, File, Folder, Other };

class SourceFiles {
public:
    virtual ~SourceFiles() = default;
    // What `path` names: a regular file, a folder, something else or nothing.
    virtual SourceKind KindOf(const std::string& path) const = 0;
    // The whole contents of `path`; throws FileReadError (builder/whole_file.h).
    virtual Bytes Read(const std::string& path) const = 0;
    // Which file `path` names and its size, so two paths of one file are
    // packed once; false with errno's value in *error.
    virtual bool Identify(const std::string& path, FileIdentity* identity, int* error) const = 0;
    // The last write time in 100-nanosecond ticks since 1601; false when it
    // cannot be read.
    virtual bool LastWriteTime(const std::string& path, uint64_t* ticks) const = 0;
    // The regular files below `folder`, at most `maxDepth` folders down, as
    // '/'-separated paths relative to it, in no particular order.
    virtual std::vector<std::string> ListFiles(const std::string& folder, size_t maxDepth) const = 0;
    // The .res image that resource script `path` compiles to; throws
    // std::runtime_error when it cannot be compiled.
    virtual Bytes CompileResourceScript(const std::string& path) const = 0;
};

// The file system, through host_system.h; scripts are compiled with windres.
class DiskSourceFiles : public SourceFiles {
public:
    SourceKind KindOf(const std::string& path) const override;
    Bytes Read(const std::string& path) const override;
    bool Identify(const std::string& path, FileIdentity* identity, int* error) const override;
    bool LastWriteTime(const std::string& path, uint64_t* ticks) const override;
    std::vector<std::string> ListFiles(const std::string& folder, size_t maxDepth) const override;
    Bytes CompileResourceScript(const std::string& path) const override;
};

// The one disk view kelvo's commands share.
const SourceFiles& Disk();

// Files held in memory by path. Paths are taken lexically: "./a//b" and
// "a/b" name one file, and a folder is any path that leads to a file below
// it. A resource script is compiled by looking up the .res image given for
// it with AddCompiledScript.
class MemorySourceFiles : public SourceFiles {
public:
    void Add(const std::string& path, Bytes contents);
    void AddCompiledScript(const std::string& path, Bytes resources);
    // Each file's last write time; the default is 0 ticks.
    void SetLastWriteTime(const std::string& path, uint64_t ticks);

    SourceKind KindOf(const std::string& path) const override;
    Bytes Read(const std::string& path) const override;
    bool Identify(const std::string& path, FileIdentity* identity, int* error) const override;
    bool LastWriteTime(const std::string& path, uint64_t* ticks) const override;
    std::vector<std::string> ListFiles(const std::string& folder, size_t maxDepth) const override;
    Bytes CompileResourceScript(const std::string& path) const override;

private:
    struct File {
        Bytes contents;
        uint64_t lastWrite = 0;
        uint64_t number = 0;  // its identity
    };
    std::map<std::string, File> files;
    std::map<std::string, Bytes> compiledScripts;
};

// `path` with "." and empty components dropped and ".." taken back, as
// MemorySourceFiles keys its files ("" for the current folder).
std::string LexicalSourcePath(const std::string& path);
