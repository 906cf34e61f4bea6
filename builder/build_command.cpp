#include "builder/build_command.h"

#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>

#include "builder/archive_builder.h"
#include "builder/project.h"

namespace {

const char* const buildUsage =
    "usage: kelvo build PROJECT.toml -o OUTPUT.exe [OPTIONS]\n"
    "\n"
    "options:\n"
    "  -o, --output PATH    the setup program to write\n"
    "  --disk-size N        split the file data into volumes of at most N bytes\n"
    "                       (OUTPUT.D01, OUTPUT.D02, ...); K and M multiply by 1024\n"
    "  --threads N          compress on N threads (default: one per core)\n"
    "  --level L            compression level 0..12 (default 9)\n"
    "  --stub PATH          the setup program to start from\n"
    "                       (default: kelvo-setup.exe beside kelvo)\n"
    "  --uninstaller PATH   kelvo's uninstall program, for sets with an uninstaller\n"
    "                       when the project gives no [setup] uninstaller-program\n"
    "                       (default: kelvo-uninstall.exe beside kelvo)\n";

const int DefaultLevel = 9;
const int MaxLevel = 12;
const unsigned MaxThreads = 64;

enum ExitCode { ExitOk = 0, ExitFailed = 1, ExitUsage = 2 };

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

uint64_t ParseNumber(const std::string& option, const std::string& text, bool allowSuffix) {
    const size_t maxDigits = 12;
    size_t digits = std::min(text.find_first_not_of("0123456789"), text.size());
    std::string suffix = text.substr(digits);
    uint64_t scale = 0;
    if (suffix.empty()) scale = 1;
    else if (allowSuffix && (suffix == "K" || suffix == "k")) scale = 1024;
    else if (allowSuffix && (suffix == "M" || suffix == "m")) scale = 1024 * 1024;
    if (digits == 0 || digits > maxDigits || scale == 0)
        throw UsageError(option + " takes a number" + (allowSuffix ? " (K or M may follow)" : "") + ", not '" + text + "'");
    return std::stoull(text.substr(0, digits)) * scale;
}

// A program built with kelvo, found beside it.
std::string BesideKelvo(const char* name) {
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return name;
    self[n] = '\0';
    return (std::filesystem::path(self).parent_path() / name).string();
}

struct Arguments {
    std::string project;
    BuildOptions options;
    std::string uninstaller;
    bool help = false;
};

Arguments ParseArguments(int argc, char** argv) {
    Arguments args;
    unsigned cores = std::thread::hardware_concurrency();
    args.options.threads = cores == 0 ? 1 : cores;
    args.options.level = DefaultLevel;
    for (int i = 0; i < argc; i++) {
        std::string arg = argv[i], value;
        size_t equals = arg.find('=');
        bool inlineValue = arg.rfind("--", 0) == 0 && equals != std::string::npos;
        if (inlineValue) {
            value = arg.substr(equals + 1);
            arg = arg.substr(0, equals);
        }
        auto takeValue = [&]() -> std::string {
            if (inlineValue) return value;
            if (++i == argc) throw UsageError("missing value for " + arg);
            return argv[i];
        };
        if (arg == "-h" || arg == "--help") args.help = true;
        else if (arg == "-o" || arg == "--output") args.options.output = takeValue();
        else if (arg == "--disk-size") args.options.diskSize = ParseNumber(arg, takeValue(), true);
        else if (arg == "--stub") args.options.stub = takeValue();
        else if (arg == "--uninstaller") args.uninstaller = takeValue();
        else if (arg == "--threads") {
            uint64_t threads = ParseNumber(arg, takeValue(), false);
            if (threads < 1 || threads > MaxThreads) throw UsageError("--threads must be 1.." + std::to_string(MaxThreads));
            args.options.threads = static_cast<unsigned>(threads);
        } else if (arg == "--level") {
            uint64_t level = ParseNumber(arg, takeValue(), false);
            if (level > MaxLevel) throw UsageError("--level must be 0.." + std::to_string(MaxLevel));
            args.options.level = static_cast<int>(level);
        } else if (arg.size() > 1 && arg[0] == '-') throw UsageError("unknown option '" + arg + "'");
        else if (args.project.empty()) args.project = arg;
        else throw UsageError("more than one project given ('" + args.project + "', '" + arg + "')");
    }
    if (args.help) return args;
    if (args.project.empty()) throw UsageError("no project given");
    if (args.options.output.empty()) throw UsageError("no output given (-o OUTPUT.exe)");
    if (args.options.stub.empty()) args.options.stub = BesideKelvo("kelvo-setup.exe");
    if (args.uninstaller.empty()) args.uninstaller = BesideKelvo("kelvo-uninstall.exe");
    return args;
}

void PrintSummary(const std::string& output, const BuildSummary& s) {
    printf("%s: %llu files (%llu distinct), %llu bytes in, %llu bytes out, %u volume%s", output.c_str(),
           static_cast<unsigned long long>(s.files), static_cast<unsigned long long>(s.contents),
           static_cast<unsigned long long>(s.bytesIn), static_cast<unsigned long long>(s.bytesOut), s.volumes,
           s.volumes == 1 ? "" : "s");
    if (s.deltas > 0)
        printf(", %llu delta%s (%llu bytes smaller)", static_cast<unsigned long long>(s.deltas), s.deltas == 1 ? "" : "s",
               static_cast<unsigned long long>(s.deltaSaving));
    printf("\n");
}

}  // namespace

int RunBuildCommand(int argc, char** argv) {
    Arguments args;
    try {
        args = ParseArguments(argc, argv);
    } catch (const UsageError& e) {
        fprintf(stderr, "kelvo: error: %s\n%s", e.what(), buildUsage);
        return ExitUsage;
    }
    if (args.help) {
        fputs(buildUsage, stdout);
        return ExitOk;
    }
    try {
        Project project = LoadProject(args.project);
        if (project.needsUninstallProgram) UseUninstallProgram(project, args.uninstaller);
        BuildSummary summary = BuildSetup(project, args.options);
        PrintSummary(args.options.output, summary);
        return ExitOk;
    } catch (const std::exception& e) {
        fprintf(stderr, "kelvo: error: %s\n", e.what());
        return ExitFailed;
    }
}
