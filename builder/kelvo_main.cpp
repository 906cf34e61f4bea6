// kelvo: the command-line build tool for Kelvo setups.
//
// `build` writes a setup; `list`, `verify`, `extract` and `dump` read any
// setup through the setup program's own loader; `encode` and `decode` run
// the archive's stream codec on its own, handy to see what the setup
// program will read. Exit status: 0 done, 1 failed, 2 wrong usage.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <iostream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "archive/inflater.h"
#include "archive/records.h"
#include "builder/build_command.h"
#include "builder/deflate_encoder.h"
#include "builder/memory_source.h"
#include "builder/setup_commands.h"
#include "builder/whole_file.h"

namespace {

const char* const versionText = "kelvo 0.1.0\n";

enum ExitCode { ExitOk = 0, ExitFailed = 1, ExitUsage = 2 };

const int DefaultLevel = 9;
const int HighestLevel = 12;

// ---------------------------------------------------------------------------
// Commands and their options

struct OptionInfo {
    const char* name;       // long name, without the dashes
    char letter;            // short form, or 0
    const char* valueName;  // null for a switch
};

struct Arguments {
    std::map<std::string, std::string> options;  // by long name
    std::vector<std::string> operands;

    bool Has(const std::string& name) const { return options.count(name) != 0; }
    std::string Get(const std::string& name, const std::string& fallback) const {
        auto found = options.find(name);
        return found == options.end() ? fallback : found->second;
    }
};

struct Command {
    const char* name;
    const char* synopsis;  // operands and options, for the usage text
    const char* summary;
    std::vector<OptionInfo> options;
    int (*run)(const Arguments& arguments);
    int (*runRaw)(int argc, char** argv);  // takes its arguments unparsed
};

const std::vector<Command>& Commands();

std::string UsageText() {
    std::string text = "usage: kelvo COMMAND [OPTIONS]\n\ncommands:\n";
    for (const Command& c : Commands()) {
        std::string left = std::string(c.name) + (*c.synopsis ? " " : "") + c.synopsis;
        char line[256];
        snprintf(line, sizeof line, "  %-36s %s\n", left.c_str(), c.summary);
        text += line;
    }
    return text + "\noptions take their value as --option=VALUE or --option VALUE\n";
}

[[noreturn]] void Fail(ExitCode code, const std::string& message) {
    fprintf(stderr, "kelvo: error: %s\n", message.c_str());
    if (code == ExitUsage) fputs(UsageText().c_str(), stderr);
    exit(code);
}

const OptionInfo* FindOption(const Command& command, const std::string& name, char letter) {
    for (const OptionInfo& option : command.options)
        if ((!name.empty() && name == option.name) || (letter != 0 && letter == option.letter)) return &option;
    return nullptr;
}

// Takes one option at argv[*i]: --name, --name=VALUE, --name VALUE, -x VALUE.
void TakeOption(const Command& command, int argc, char** argv, int* i, Arguments& arguments) {
    std::string arg = argv[*i];
    bool isLong = arg.compare(0, 2, "--") == 0;
    size_t equals = arg.find('=');
    std::string name = isLong ? arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2) : "";
    const OptionInfo* option = FindOption(command, name, isLong ? 0 : arg[1]);
    if (option == nullptr || (!isLong && arg.size() != 2))
        Fail(ExitUsage, "unknown option " + arg + " for " + command.name);
    if (option->valueName == nullptr) {
        if (isLong && equals != std::string::npos) Fail(ExitUsage, "--" + std::string(option->name) + " takes no value");
        arguments.options[option->name] = "";
    } else if (isLong && equals != std::string::npos) {
        arguments.options[option->name] = arg.substr(equals + 1);
    } else {
        if (++*i == argc) Fail(ExitUsage, "missing " + std::string(option->valueName) + " after " + arg);
        arguments.options[option->name] = argv[*i];
    }
}

Arguments ParseArguments(const Command& command, int argc, char** argv) {
    Arguments arguments;
    bool optionsEnded = false;
    for (int i = 0; i < argc; i++) {
        std::string arg = argv[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            arguments.operands.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--help" || arg == "-h") {
            fputs(UsageText().c_str(), stdout);
            exit(ExitOk);
        } else {
            TakeOption(command, argc, argv, &i, arguments);
        }
    }
    return arguments;
}

void ExpectOperands(const Arguments& arguments, size_t count, const char* command, const char* what) {
    if (arguments.operands.size() != count) Fail(ExitUsage, std::string(command) + " takes " + what);
}

long ParseNumber(const std::string& text, long lowest, long highest, const char* what) {
    char* end = nullptr;
    errno = 0;
    long value = strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || value < lowest || value > highest)
        Fail(ExitUsage, std::string(what) + " must be " + std::to_string(lowest) + ".." + std::to_string(highest) +
                            ", not '" + text + "'");
    return value;
}

// ---------------------------------------------------------------------------
// encode and decode

void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& data) {
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr) Fail(ExitFailed, "cannot create " + path + ": " + strerror(errno));
    bool ok = fwrite(data.data(), 1, data.size(), file) == data.size();
    ok = fclose(file) == 0 && ok;
    if (!ok) Fail(ExitFailed, "cannot write " + path);
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
    return ExitOk;
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
        Fail(ExitFailed, input + " is not a valid stream (decoder status " + std::to_string(status) + ")");
    WriteWholeFile(arguments.operands[1], sink.bytes);
    return ExitOk;
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
    if (!arguments.Has("dir")) Fail(ExitUsage, "extract needs -d DIR");
    ExtractOptions options;
    options.setupPath = arguments.operands[0];
    options.directory = arguments.Get("dir", "");
    if (options.directory.empty()) Fail(ExitUsage, "the folder given with -d is empty");
    options.set = static_cast<uint32_t>(ParseNumber(arguments.Get("set", "0"), 0, MaxInstallSets - 1, "the set"));
    return ExtractSetup(options, std::cout, std::cerr);
}

int Dump(const Arguments& arguments) {
    ExpectOperands(arguments, 1, "dump", "one SETUP");
    return DumpSetup(arguments.operands[0], std::cout, std::cerr);
}

int Help(const Arguments&) {
    fputs(UsageText().c_str(), stdout);
    return ExitOk;
}

int Version(const Arguments&) {
    fputs(versionText, stdout);
    return ExitOk;
}

int Build(int argc, char** argv) { return RunBuildCommand(argc, argv); }

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = {
        {"build", "ARGUMENTS...", "write a setup (kelvo build --help)", {}, nullptr, Build},
        {"list", "SETUP", "show a setup's sets, files and entries", {}, List, nullptr},
        {"verify", "SETUP", "decode and check every stored file", {}, Verify, nullptr},
        {"extract", "SETUP -d DIR [--set N]", "write set N's files (default 0) under DIR",
         {{"dir", 'd', "DIR"}, {"set", 's', "N"}}, Extract, nullptr},
        {"dump", "SETUP", "print every record as JSON", {}, Dump, nullptr},
        {"encode", "[-l LEVEL] INPUT OUTPUT", "compress INPUT into a stream (LEVEL 0..12, default 9)",
         {{"level", 'l', "LEVEL"}}, Encode, nullptr},
        {"decode", "INPUT OUTPUT", "expand a stream written by encode", {}, Decode, nullptr},
        {"help", "", "show this text", {}, Help, nullptr},
        {"version", "", "show the version", {}, Version, nullptr},
    };
    return commands;
}

const Command* FindCommand(const std::string& name) {
    if (name == "--help" || name == "-h") return FindCommand("help");
    if (name == "--version") return FindCommand("version");
    for (const Command& command : Commands())
        if (name == command.name) return &command;
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) Fail(ExitUsage, "no command given");
    const Command* command = FindCommand(argv[1]);
    if (command == nullptr) Fail(ExitUsage, std::string("unknown command '") + argv[1] + "'");
    try {
        if (command->runRaw != nullptr) return command->runRaw(argc - 2, argv + 2);
        return command->run(ParseArguments(*command, argc - 2, argv + 2));
    } catch (const std::exception& e) {
        Fail(ExitFailed, e.what());
    }
}
