// kelvo's commands: the one table of them and their options, and the small
// commands themselves. `build` writes a setup (builder/build_command.cpp);
// `list`, `verify`, `extract` and `dump` read any setup through the setup
// program's own loader; `encode` and `decode` run the archive's stream codec
// on its own, handy to see what the setup program will read.
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "archive/inflater.h"
#include "archive/records.h"
#include "builder/build_command.h"
#include "builder/command_line.h"
#include "builder/deflate_encoder.h"
#include "builder/exit_status.h"
#include "builder/memory_source.h"
#include "builder/setup_commands.h"
#include "builder/whole_file.h"
#include "builder/winget_manifest.h"
#include "kelvo_version.h"

namespace {

const char* const versionText = "kelvo " KELVO_VERSION_TEXT "\n";

const int DefaultLevel = 9;
const int HighestLevel = 12;

// ---------------------------------------------------------------------------
// encode and decode

void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& data) {
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr) throw std::runtime_error("cannot create " + path + ": " + strerror(errno));
    bool ok = fwrite(data.data(), 1, data.size(), file) == data.size();
    ok = fclose(file) == 0 && ok;
    if (!ok) throw std::runtime_error("cannot write " + path);
}

int Encode(const Arguments& arguments) {
    ExpectOperands(arguments, 2, "encode", "INPUT and OUTPUT");
    int level = static_cast<int>(
        ParseNumber(arguments.Get("level", std::to_string(DefaultLevel)), 0, HighestLevel, "the level"));
    std::vector<uint8_t> data = ReadWholeFile(arguments.operands[0]);
    EncodeStats stats;
    std::vector<uint8_t> stream = EncodeStream(data.data(), data.size(), level, &stats);
    WriteWholeFile(arguments.operands[1], stream);
    fprintf(stderr, "%zu -> %zu bytes (%llu stored, %llu fixed, %llu dynamic blocks)\n", data.size(),
            stream.size(), static_cast<unsigned long long>(stats.storedBlocks),
            static_cast<unsigned long long>(stats.fixedBlocks), static_cast<unsigned long long>(stats.dynamicBlocks));
    return CommandSucceeded;
}

class VectorSink : public ByteSink {
public:
    std::vector<uint8_t> bytes;
    bool IsReady() override { return true; }
    void Write(const u8* data, u32 count) override { bytes.insert(bytes.end(), data, data + count); }
};

int Decode(const Arguments& arguments) {
    ExpectOperands(arguments, 2, "decode", "INPUT and OUTPUT");
    const std::string& input = arguments.operands[0];
    std::vector<uint8_t> stream = ReadWholeFile(input);
    MemoryInput memory;
    memory.data = stream.data();
    memory.size = static_cast<u32>(stream.size());
    InflateSource source = MemoryInflateSource(memory);
    VectorSink sink;
    InflateStatus status = InflateStream(source, sink);
    if (status != InflateOk)
        throw std::runtime_error(input + " is not a valid stream (decoder status " + std::to_string(status) + ")");
    WriteWholeFile(arguments.operands[1], sink.bytes);
    return CommandSucceeded;
}

// ---------------------------------------------------------------------------
// Inspection commands

int List(const Arguments& arguments) {
    ExpectOperands(arguments, 1, "list", "one SETUP");
    return ListSetup(arguments.operands[0], std::cout, std::cerr);
}

int Verify(const Arguments& arguments) {
    ExpectOperands(arguments, 1, "verify", "one SETUP");
    return VerifySetup(arguments.operands[0], std::cout, std::cerr);
}

int Extract(const Arguments& arguments) {
    ExpectOperands(arguments, 1, "extract", "one SETUP");
    if (!arguments.Has("dir")) throw UsageError("extract needs -d DIR");
    ExtractOptions options;
    options.setupPath = arguments.operands[0];
    options.directory = arguments.Get("dir", "");
    if (options.directory.empty()) throw UsageError("the folder given with -d is empty");
    options.set = static_cast<uint32_t>(ParseNumber(arguments.Get("set", "0"), 0, MaxInstallSets - 1, "the set"));
    return ExtractSetup(options, std::cout, std::cerr);
}

int Dump(const Arguments& arguments) {
    ExpectOperands(arguments, 1, "dump", "one SETUP");
    return DumpSetup(arguments.operands[0], std::cout, std::cerr);
}

int Manifest(const Arguments& arguments) {
    ExpectOperands(arguments, 2, "manifest", "winget and one SETUP");
    if (arguments.operands[0] != "winget") throw UsageError("manifest knows only winget, not '" + arguments.operands[0] + "'");
    std::string format = arguments.Get("format", "yaml");
    if (format != "yaml" && format != "json") throw UsageError("--format is yaml or json, not '" + format + "'");
    return PrintWingetFragment(arguments.operands[1], format == "json", std::cout, std::cerr);
}

int Help(const Arguments&) {
    fputs(UsageText(KelvoCommands()).c_str(), stdout);
    return CommandSucceeded;
}

int Version(const Arguments&) {
    fputs(versionText, stdout);
    return CommandSucceeded;
}

}  // namespace

// The options that sign what build writes, and what sign signs; they
// replace the project's [sign] values.
#define SIGNING_OPTIONS                                                                                         \
    {"certificate", 0, "FILE", "sign with this PKCS#12 file, or PEM certificate with --key"},                \
        {"key", 0, "FILE", "the PEM private key of a PEM certificate"},                                      \
        {"password-file", 0, "FILE", "read the certificate's or key's password from FILE"},                  \
        {"password-env", 0, "NAME", "read that password from the environment variable NAME"},                \
        {"description", 0, "TEXT", "the program's name in the signature"},                                   \
        {"url", 0, "URL", "its web page in the signature"},                                                  \
        {"timestamp-url", 0, "URL", "have the signature time-stamped by this RFC 3161 server"}

const std::vector<Command>& KelvoCommands() {
    static const std::vector<Command> commands = {
        {"build", "ARGUMENTS...", "write a setup (kelvo build --help)",
         {{"output", 'o', "PATH", "the setup program to write"},
          {"disk-size", 0, "N",
           "split the file data into volumes of at most N bytes\n"
           "(OUTPUT.D01, OUTPUT.D02, ...); K and M multiply by 1024"},
          {"threads", 0, "N", "compress on N threads (default: one per core)"},
          {"level", 0, "L",
           "the project's compression level instead of its own:\n"
           "LZMA 1..9 (default 9), DEFLATE 0..12 (default 9)"},
          {"stub", 0, "PATH", "the setup program to start from\n(default: kelvo-setup.exe beside kelvo,\nelse in ../share/kelvo from kelvo's folder)"},
          {"uninstaller", 0, "PATH",
           "kelvo's uninstall program, for sets with an uninstaller\n"
           "when the project gives no [setup] uninstaller-program\n"
           "(default: kelvo-uninstall.exe beside kelvo,\nelse in ../share/kelvo from kelvo's folder)"},
           SIGNING_OPTIONS},
         BuildCommand, "PROJECT.toml -o OUTPUT.exe [OPTIONS]"},
        {"sign", "SETUP [OPTIONS]", "sign a setup built earlier (kelvo sign --help)",
         {{"project", 0, "PROJECT.toml", "take the certificate from the project's [sign] table"}, SIGNING_OPTIONS},
         SignCommand, "SETUP.exe [--project PROJECT.toml] [--certificate FILE ...]"},
        {"list", "SETUP", "show a setup's sets, files and entries", {}, List, nullptr},
        {"verify", "SETUP", "decode and check every stored file", {}, Verify, nullptr},
        {"extract", "SETUP -d DIR [--set N]", "write set N's files (default 0) under DIR",
         {{"dir", 'd', "DIR", nullptr}, {"set", 's', "N", nullptr}}, Extract, nullptr},
        {"dump", "SETUP", "print every record as JSON", {}, Dump, nullptr},
        {"manifest", "winget [--format yaml|json] SETUP",
         "print the installer switches and return codes of a winget manifest",
         {{"format", 0, "FORMAT", nullptr}}, Manifest, nullptr},
        {"encode", "[-l LEVEL] INPUT OUTPUT", "compress INPUT into a stream (LEVEL 0..12, default 9)",
         {{"level", 'l', "LEVEL", nullptr}}, Encode, nullptr},
        {"decode", "INPUT OUTPUT", "expand a stream written by encode", {}, Decode, nullptr},
        {"help", "", "show this text", {}, Help, nullptr},
        {"version", "", "show the version", {}, Version, nullptr},
    };
    return commands;
}
