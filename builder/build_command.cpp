#include "builder/build_command.h"

#include <limits.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "builder/archive_builder.h"
#include "builder/execution_level.h"
#include "builder/exit_status.h"
#include "builder/project.h"

namespace {

const int DefaultLevel = 9;
const int MaxLevel = 12;
const unsigned MaxThreads = 64;
const uint64_t MaxDiskSize = UINT64_MAX;

// A Windows program kelvo ships: beside kelvo in a build tree (build/bin),
// else where `make install` puts it, PREFIX/share/kelvo for PREFIX/bin/kelvo.
// The first that exists; beside kelvo when neither does, for the message.
std::string BesideKelvo(const char* name) {
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return name;
    self[n] = '\0';
    std::filesystem::path folder = std::filesystem::path(self).parent_path();
    std::filesystem::path beside = folder / name;
    std::filesystem::path installed = folder.parent_path() / "share" / "kelvo" / name;
    std::error_code error;
    if (!std::filesystem::exists(beside, error) && std::filesystem::exists(installed, error))
        return installed.string();
    return beside.string();
}

struct BuildRequest {
    std::string project;
    BuildOptions options;
    std::string uninstaller;
};

BuildRequest ReadRequest(const Arguments& arguments) {
    BuildRequest request;
    unsigned cores = std::thread::hardware_concurrency();
    request.options.threads = cores == 0 ? 1 : cores;
    request.options.level = DefaultLevel;
    if (arguments.Has("threads"))
        request.options.threads =
            static_cast<unsigned>(ParseNumber(arguments.Get("threads", ""), 1, MaxThreads, "--threads"));
    if (arguments.Has("level"))
        request.options.level = static_cast<int>(ParseNumber(arguments.Get("level", ""), 0, MaxLevel, "--level"));
    if (arguments.Has("disk-size"))
        request.options.diskSize = ParseNumber(arguments.Get("disk-size", ""), 0, MaxDiskSize, "--disk-size", true);
    const std::vector<std::string>& operands = arguments.operands;
    if (operands.empty()) throw UsageError("no project given");
    if (operands.size() > 1)
        throw UsageError("more than one project given ('" + operands[0] + "', '" + operands[1] + "')");
    request.project = operands[0];
    request.options.output = arguments.Get("output", "");
    if (request.options.output.empty()) throw UsageError("no output given (-o OUTPUT.exe)");
    request.options.stub = arguments.Get("stub", "");
    if (request.options.stub.empty()) request.options.stub = BesideKelvo("kelvo-setup.exe");
    request.uninstaller = arguments.Get("uninstaller", "");
    if (request.uninstaller.empty()) request.uninstaller = BesideKelvo("kelvo-uninstall.exe");
    return request;
}

void PrintSummary(const std::string& output, const BuildSummary& s) {
    printf("%s: %llu files (%llu distinct), %llu bytes in, %llu bytes out, %u volume%s", output.c_str(),
           static_cast<unsigned long long>(s.files), static_cast<unsigned long long>(s.contents),
           static_cast<unsigned long long>(s.bytesIn), static_cast<unsigned long long>(s.bytesOut), s.volumes,
           s.volumes == 1 ? "" : "s");
    if (s.deltas > 0)
        printf(", %llu delta%s (%llu bytes smaller)", static_cast<unsigned long long>(s.deltas),
               s.deltas == 1 ? "" : "s",
               static_cast<unsigned long long>(s.deltaSaving));
    printf("\n");
}

}  // namespace

int BuildCommand(const Arguments& arguments) {
    BuildRequest request = ReadRequest(arguments);
    Project project = LoadProject(request.project);
    if (project.needsUninstallProgram) UseUninstallProgram(project, request.uninstaller);
    // kelvo's uninstall program asks for the setup's level; a program of the
    // project's own keeps its manifest as it is.
    if (project.userPrivileges) AskForUserLevel(project.prefixData);
    BuildSummary summary = BuildSetup(project, request.options);
    PrintSummary(request.options.output, summary);
    return CommandSucceeded;
}
