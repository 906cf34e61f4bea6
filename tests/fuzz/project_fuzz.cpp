// Fuzz target: kelvo's project reader, from the TOML text to the setup it
// builds, and the setup program's loader on that setup. Sources come from
// memory (MemorySourceFiles), so the target touches no project on disk.
//
// The input is the project file's text, optionally followed by files of the
// project's folder, each introduced by a line "==> NAME":
//
//   [[set]]
//   [[set.file]]
//   source = "x.txt"
//   ==> x.txt
//   the file's bytes
//
// Beside those the folder always holds a few files (see ProjectFolder), so
// a mutated project finds sources, globs, pictures, a PE image with a
// version resource and a dialog script to name.
//
// A project kelvo refuses is a std::runtime_error (ProjectError,
// FileReadError, a build failure), which is caught; anything else escapes
// and is a fault. A setup kelvo did build must load.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "archive/archive_offset.h"
#include "archive/file_data.h"
#include "archive/loader.h"
#include "archive/texts.h"
#include "builder/archive_builder.h"
#include "builder/default_resources.h"
#include "builder/project.h"
#include "builder/source_files.h"
#include "builder/whole_file.h"
#include "common/paths.h"

namespace {

const char* const Folder = "project";
const char* const ProjectPath = "project/kelvo.toml";
const char* const FileMarker = "\n==> ";
const size_t StubSize = 600;

// The files every project finds in its folder.
void AddFixedFiles(MemorySourceFiles& files) {
    static const Bytes peImage = [] {
        try {
            return ReadWholeFile(std::string(KELVO_SOURCE_DIR) + "/tests/fuzz/corpus/pe_version/lib32.dll");
        } catch (const FileReadError& e) {
            fprintf(stderr, "%s\n", e.what());
            abort();
        }
    }();
    auto text = [](const char* s) { return Bytes(s, s + strlen(s)); };
    files.Add("project/a.txt", text("alpha alpha alpha\n"));
    files.Add("project/b.txt", text("alpha beta alpha\n"));
    files.Add("project/empty.txt", Bytes());
    files.Add("project/docs/readme.txt", text("read me\n"));
    files.Add("project/docs/sub/deep.txt", text("deep\n"));
    files.Add("project/docs/.hidden/secret.txt", text("hidden\n"));
    files.Add("project/lib.dll", peImage);
    files.Add("project/picture.bmp", DefaultWizardPicture());
    files.Add("project/uninstall.exe", text("MZ uninstaller"));
    files.SetLastWriteTime("project/a.txt", 0x01D9000000000000ull);
    files.AddCompiledScript("project/dialogs.rc",
                            Bytes(EmbeddedDialogResources.data, EmbeddedDialogResources.data + EmbeddedDialogResources.size));
}

// The project's text, and its own files into `files`.
std::string SplitInput(const std::string& input, MemorySourceFiles& files) {
    size_t end = input.find(FileMarker);
    std::string project = input.substr(0, end);
    while (end != std::string::npos) {
        size_t nameStart = end + strlen(FileMarker);
        size_t nameEnd = input.find('\n', nameStart);
        if (nameEnd == std::string::npos) nameEnd = input.size();
        size_t next = input.find(FileMarker, nameEnd);
        size_t contentStart = std::min(nameEnd + 1, input.size());
        // A marker right after the name line leaves the file empty.
        size_t contentEnd = std::max(contentStart, next == std::string::npos ? input.size() : next);
        std::string name = input.substr(nameStart, nameEnd - nameStart);
        if (!name.empty())
            files.Add(std::string(Folder) + "/" + name,
                      Bytes(input.begin() + static_cast<long>(contentStart), input.begin() + static_cast<long>(contentEnd)));
        end = next;
    }
    return project;
}

// A folder of this process's own for the stub, the setup and its pool.
struct Scratch {
    std::string folder, stub, uninstaller, output;
    Scratch() {
        std::string pattern = "/dev/shm/kelvo-project-fuzz-XXXXXX";
        if (mkdtemp(&pattern[0]) == nullptr) abort();
        folder = pattern;
        stub = folder + "/stub.exe";
        uninstaller = folder + "/uninstall.exe";
        output = folder + "/setup.exe";
        Bytes program(StubSize, 'S');
        program[0] = 'M';
        program[1] = 'Z';
        std::copy(ArchiveOffsetMarker, ArchiveOffsetMarker + sizeof ArchiveOffsetMarker, program.begin() + 100);
        std::fill(program.begin() + 100 + sizeof ArchiveOffsetMarker, program.begin() + 104 + sizeof ArchiveOffsetMarker, 0);
        Write(stub, program);
        Write(uninstaller, Bytes(4000, 'U'));
    }
    ~Scratch() { std::filesystem::remove_all(folder); }
    static void Write(const std::string& path, const Bytes& bytes) {
        FILE* file = fopen(path.c_str(), "wb");
        if (file == nullptr || fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() || fclose(file) != 0) abort();
    }
};

// Everything the loaded script offers, as the setup program reads it.
void WalkLoadedSetup() {
    char message[MessageCapacity];
    for (u32 set = 0; set < setupScript.setCount; set++) {
        SelectInstallSet(set);
        for (u32 table = 0; table < 12; table++)
            for (u32 n = 0; n < 40; n++) (void)strlen(LookupText(table, n));
        for (u32 n = 0; n < 40; n++) FormatMessageText(message, n);
        for (u32 i = 0;; i++) {
            FileEntry* entry = FileEntryAt(set, i);
            if (entry == nullptr) break;
            for (u32 n = 0; n < EntryStringCount; n++) (void)strlen(EntryString(entry, n));
        }
    }
    if (OpenFileData(false) != FileDataReady) abort();  // kelvo wrote it whole
    u8 buffer[256];
    u32 got;
    if (SeekFileData(0) == FileDataReady) ReadFileData(buffer, sizeof buffer, &got);
    CloseFileData();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Scratch scratch;
    MemorySourceFiles files;
    AddFixedFiles(files);
    std::string project = SplitInput(std::string(reinterpret_cast<const char*>(data), size), files);
    files.Add(ProjectPath, Bytes(project.begin(), project.end()));

    try {
        Project read = LoadProject(ProjectPath, files);
        if (read.needsUninstallProgram) UseUninstallProgram(read, scratch.uninstaller);
        read.signing = SigningOptions();  // signing runs another program
        BuildOptions options;
        options.output = scratch.output;
        options.stub = scratch.stub;
        options.level = 1;
        BuildSetup(read, options);
    } catch (const std::runtime_error& e) {
        // KELVO_FUZZ_VERBOSE=1 tells why, to check that seeds get through.
        static const bool verbose = getenv("KELVO_FUZZ_VERBOSE") != nullptr;
        if (verbose) fprintf(stderr, "refused: %s\n", e.what());
        return 0;
    }
    if (getenv("KELVO_FUZZ_VERBOSE") != nullptr) fprintf(stderr, "built\n");

    if (!AllocatePathBuffers()) abort();
    CopyPath(SourcePath, scratch.output.c_str(), PathCapacity);
    SetMessagePath("C:\\Fuzz");
    LoadFault fault = ReadSetupArchive(StubSize, nullptr);
    if (fault != LoadOk) {
        fprintf(stderr, "kelvo built a setup the loader refuses (fault %d)\n", static_cast<int>(fault));
        abort();
    }
    WalkLoadedSetup();
    ReleaseSetupScript();
    ReleasePathBuffers();
    return 0;
}
