// Files and folders for the Windows tests: a scratch folder of the test's
// own, whole-file reads and writes, and the temporary folder. Set-up steps
// that must work REQUIRE it; reads only CHECK, so a test that still has a
// setup to close carries on. Built into the Windows tests only
// (tests/windows/support/win32_test_files.cpp).
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "common/types.h"

// The temporary folder, with its trailing backslash.
std::string TempFolder();

// The setup built from tests/fixtures/projects/<project> before the tests.
std::string FixtureSetup(const std::string& project);

// The whole contents of `path`, read by a reader that shares everything;
// "" (and a failed check) when the file cannot be opened.
std::string ReadWholeFile(const std::string& path);
// The same as bytes, for setup programs and archives.
std::vector<u8> ReadWholeFileBytes(const std::string& path);
// The archive offset the build tool wrote into a setup program.
u32 ArchiveOffsetOf(const std::vector<u8>& setup);
// Where in the setup file at `path` the middle of the packed data of entry
// `index` of its first set lies (loads the setup to find out).
u32 PackedDataOffset(const std::string& path, u32 index);

// Creates or truncates `path` to hold exactly `bytes`.
void WriteWholeFile(const std::string& path, const std::string& bytes);
void WriteWholeFile(const std::string& path, const std::vector<u8>& bytes);

// A folder of its own under the temporary folder, named after a label and
// the process id so test programs running side by side never meet. It starts
// empty (leftovers of an earlier process with the same id are removed) and
// is removed with everything in it at the end.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& label);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& Root() const { return root; }
    // The path of `name` (which may hold subfolders) inside the folder.
    std::string Path(const std::string& name) const;
    // Creates file `name` holding `contents` and returns its path.
    std::string Make(const std::string& name, const std::string& contents = "") const;
    // Creates subfolder `name` and returns its path.
    std::string Folder(const std::string& name) const;
    // Creates a file anywhere (the system folder, say) that goes with the
    // scratch folder at the end, and returns `path`.
    std::string MakeElsewhere(const std::string& path, const std::string& contents = "");

private:
    std::string root;
    std::vector<std::string> elsewhere;
};

// Removes `path` with everything below it; read-only files too.
void RemoveTree(const std::string& path);

// True when a file or folder `path` exists.
bool FileExists(const std::string& path);
// True when `path` exists and has the read-only attribute.
bool IsReadOnly(const std::string& path);
// The Windows folder, without a trailing backslash.
std::string WindowsFolderPath();
// A shell folder by its CSIDL number (CSIDL_FONTS, CSIDL_PROGRAMS, ...).
std::string ShellFolder(int csidl);

// The strings of PendingFileRenameOperations, the operations the system
// carries out at the next restart: source, target pairs.
std::vector<std::string> PendingOperations();
// Removes the pairs whose source lies in `folder`, so the shared prefix's
// next wineserver start has nothing of a test to carry out.
void ForgetPendingOperations(const std::string& folder);
