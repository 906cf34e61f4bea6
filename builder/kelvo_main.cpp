// kelvo: the command-line build tool for Kelvo setups.
//
// For now it offers the stream codec on its own: `encode` writes a file as a
// compressed stream of the archive's format and `decode` expands one again,
// which is handy to inspect what the setup program will read.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "archive/inflater.h"
#include "builder/deflate_encoder.h"

namespace {

const char* const usageText =
    "usage: kelvo COMMAND [OPTIONS]\n"
    "\n"
    "commands:\n"
    "  encode [-l LEVEL] INPUT OUTPUT   compress INPUT into a stream (LEVEL 0..12, default 9)\n"
    "  decode INPUT OUTPUT              expand a stream written by encode\n"
    "  help                             show this text\n"
    "  version                          show the version\n";

const char* const versionText = "kelvo 0.1.0\n";

enum ExitCode { ExitOk = 0, ExitFailed = 1, ExitUsage = 2 };

[[noreturn]] void Fail(ExitCode code, const std::string& message) {
    fprintf(stderr, "kelvo: error: %s\n", message.c_str());
    if (code == ExitUsage) fputs(usageText, stderr);
    exit(code);
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) Fail(ExitFailed, "cannot open " + path + ": " + strerror(errno));
    std::vector<uint8_t> data;
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) data.insert(data.end(), buffer, buffer + n);
    bool failed = ferror(file) != 0;
    fclose(file);
    if (failed) Fail(ExitFailed, "cannot read " + path);
    return data;
}

void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& data) {
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr) Fail(ExitFailed, "cannot create " + path + ": " + strerror(errno));
    bool ok = fwrite(data.data(), 1, data.size(), file) == data.size();
    ok = fclose(file) == 0 && ok;
    if (!ok) Fail(ExitFailed, "cannot write " + path);
}

int ParseLevel(const char* text) {
    char* end = nullptr;
    long level = strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || level < 0 || level > 12)
        Fail(ExitUsage, std::string("level must be 0..12, not '") + text + "'");
    return static_cast<int>(level);
}

int Encode(int argc, char** argv) {
    int level = 9;
    std::vector<std::string> files;
    for (int i = 0; i < argc; i++) {
        std::string arg = argv[i];
        if (arg == "-l" || arg == "--level") {
            if (++i == argc) Fail(ExitUsage, "missing value for " + arg);
            level = ParseLevel(argv[i]);
        } else if (arg.rfind("--level=", 0) == 0) {
            level = ParseLevel(arg.c_str() + 8);
        } else {
            files.push_back(arg);
        }
    }
    if (files.size() != 2) Fail(ExitUsage, "encode takes INPUT and OUTPUT");
    std::vector<uint8_t> data = ReadWholeFile(files[0]);
    EncodeStats stats;
    std::vector<uint8_t> stream = EncodeStream(data.data(), data.size(), level, &stats);
    WriteWholeFile(files[1], stream);
    fprintf(stderr, "%zu -> %zu bytes (%llu stored, %llu fixed, %llu dynamic blocks)\n", data.size(),
            stream.size(), static_cast<unsigned long long>(stats.storedBlocks),
            static_cast<unsigned long long>(stats.fixedBlocks), static_cast<unsigned long long>(stats.dynamicBlocks));
    return ExitOk;
}

class VectorSink : public ByteSink {
public:
    std::vector<uint8_t> bytes;
    bool IsReady() override { return true; }
    void Write(const u8* data, u32 count) override { bytes.insert(bytes.end(), data, data + count); }
};

struct MemoryInput {
    const std::vector<uint8_t>* data;
    size_t position;
};

i32 ReadMemory(void* context, u8* buffer, u32 want) {
    MemoryInput& input = *static_cast<MemoryInput*>(context);
    size_t left = input.data->size() - input.position;
    u32 n = left < want ? static_cast<u32>(left) : want;
    memcpy(buffer, input.data->data() + input.position, n);
    input.position += n;
    return static_cast<i32>(n);
}

int Decode(int argc, char** argv) {
    if (argc != 2) Fail(ExitUsage, "decode takes INPUT and OUTPUT");
    std::vector<uint8_t> stream = ReadWholeFile(argv[0]);
    MemoryInput input = {&stream, 0};
    InflateSource source = {ReadMemory, nullptr, &input, 0};
    VectorSink sink;
    InflateStatus status = InflateStream(source, sink);
    if (status != InflateOk)
        Fail(ExitFailed, std::string(argv[0]) + " is not a valid stream (decoder status " + std::to_string(status) + ")");
    WriteWholeFile(argv[1], sink.bytes);
    return ExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) Fail(ExitUsage, "no command given");
    std::string command = argv[1];
    try {
        if (command == "encode") return Encode(argc - 2, argv + 2);
        if (command == "decode") return Decode(argc - 2, argv + 2);
    } catch (const std::exception& e) {
        Fail(ExitFailed, e.what());
    }
    if (command == "help" || command == "--help" || command == "-h") {
        fputs(usageText, stdout);
        return ExitOk;
    }
    if (command == "version" || command == "--version") {
        fputs(versionText, stdout);
        return ExitOk;
    }
    Fail(ExitUsage, "unknown command '" + command + "'");
}
