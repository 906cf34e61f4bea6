#include "builder/build_command.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "archive/records.h"
#include "builder/archive_builder.h"
#include "builder/code_signing.h"
#include "builder/deflate_encoder.h"
#include "builder/execution_level.h"
#include "builder/exit_status.h"
#include "builder/host_system.h"
#include "builder/project.h"
#include "builder/setup_reader.h"
#include "builder/whole_file.h"

namespace {

const unsigned MaxThreads = 64;
const uint64_t MaxDiskSize = UINT64_MAX;

// A Windows program kelvo ships: beside kelvo in a build tree (build/bin),
// else where `make install` puts it, PREFIX/share/kelvo for PREFIX/bin/kelvo.
// The first that exists; beside kelvo when neither does, for the message.
std::string BesideKelvo(const char* name) {
    std::string self = OwnProgramPath();
    if (self.empty()) return name;
    std::filesystem::path folder = HostPath(self).parent_path();
    std::filesystem::path beside = folder / name;
    std::filesystem::path installed = folder.parent_path() / "share" / "kelvo" / name;
    std::error_code error;
    if (!std::filesystem::exists(beside, error) && std::filesystem::exists(installed, error))
        return Utf8Path(installed);
    return Utf8Path(beside);
}

struct BuildRequest {
    std::string project;
    BuildOptions options;
    std::string uninstaller;
};

// Each uninstaller, program and data together, signed, becomes its entry's
// whole contents: the shared program (the PrefixData record) goes, and setup
// writes the log beside the uninstaller instead of into it.
void SignUninstallers(Project& project) {
    bool any = false;
    for (ProjectSet& set : project.sets) {
        for (ProjectEntry& entry : set.entries) {
            if (!(entry.fields.entryFlags & UninstallerEntry)) continue;
            Bytes program = project.prefixData;
            if (entry.inlineContents)
                PutBytes(program, *entry.inlineContents);
            else if (!entry.sourcePath.empty())
                PutBytes(program, project.files->Read(entry.sourcePath));
            if (program.empty()) continue;
            entry.inlineContents = SignProgram(project.signing, program);
            entry.sourcePath.clear();
            any = true;
        }
    }
    if (!any) return;
    project.prefixData.clear();
    project.uninstallLogPlace |= UninstallLogBeside;
}

BuildRequest ReadRequest(const Arguments& arguments) {
    BuildRequest request;
    unsigned cores = std::thread::hardware_concurrency();
    request.options.threads = cores == 0 ? 1 : cores;
    if (arguments.Has("threads"))
        request.options.threads =
            static_cast<unsigned>(ParseNumber(arguments.Get("threads", ""), 1, MaxThreads, "--threads"));
    if (arguments.Has("level"))
        request.options.level = static_cast<int>(ParseNumber(arguments.Get("level", ""), 0, MaxDeflateLevel, "--level"));
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
    ApplySigningArguments(arguments, project.signing);
    if (project.signing.Enabled()) SignUninstallers(project);
    BuildSummary summary = BuildSetup(project, request.options);
    // The archive is in the file before the signature, so the signature
    // covers it; continuation volumes stay unsigned.
    // A setup whose signing failed is not left for someone to ship.
    if (project.signing.Enabled()) {
        try {
            SignFileInPlace(project.signing, request.options.output);
        } catch (...) {
            std::filesystem::remove(HostPath(request.options.output));
            throw;
        }
    }
    PrintSummary(request.options.output, summary);
    return CommandSucceeded;
}

namespace {

// The first bytes of a program, enough for its PE headers.
Bytes ReadHeaders(const std::string& path) {
    const size_t HeaderBytes = 4096;
    Bytes header(HeaderBytes);
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) throw std::runtime_error("cannot open " + path);
    header.resize(fread(header.data(), 1, header.size(), file));
    fclose(file);
    return header;
}

}  // namespace

void ApplySigningArguments(const Arguments& arguments, SigningOptions& signing) {
    // A certificate given here replaces the project's with all its secrets.
    if (arguments.Has("certificate")) {
        signing.certificate = arguments.Get("certificate", "");
        if (signing.certificate.empty()) throw UsageError("--certificate names no file");
        signing.key.clear();
        signing.passwordFile.clear();
        signing.passwordEnv.clear();
    }
    for (const char* name : {"key", "password-file", "password-env"})
        if (arguments.Has(name) && !arguments.Has("certificate") && signing.certificate.empty())
            throw UsageError(std::string("--") + name + " without a certificate (--certificate or the project's [sign])");
    if (arguments.Has("key")) signing.key = arguments.Get("key", "");
    if (arguments.Has("password-file")) signing.passwordFile = arguments.Get("password-file", "");
    if (arguments.Has("password-env")) signing.passwordEnv = arguments.Get("password-env", "");
    if (arguments.Has("password-file") && arguments.Has("password-env"))
        throw UsageError("the password comes from --password-file or --password-env, not both");
    if (arguments.Has("password-file")) signing.passwordEnv.clear();
    if (arguments.Has("password-env")) signing.passwordFile.clear();
    if (arguments.Has("description")) signing.description = arguments.Get("description", "");
    if (arguments.Has("url")) signing.url = arguments.Get("url", "");
    if (arguments.Has("timestamp-url")) signing.timestampUrl = arguments.Get("timestamp-url", "");
}

int SignCommand(const Arguments& arguments) {
    ExpectOperands(arguments, 1, "sign", "one SETUP");
    const std::string& setup = arguments.operands[0];
    SigningOptions signing;
    if (arguments.Has("project")) signing = LoadProject(arguments.Get("project", "")).signing;
    ApplySigningArguments(arguments, signing);
    if (!signing.Enabled()) throw UsageError("no certificate given (--certificate or --project with a [sign] table)");
    ArchiveLocation location = LocateArchive(setup);
    if (!location.found) throw std::runtime_error(setup + ": " + location.problem);
    if (HasSignature(ReadHeaders(setup))) throw std::runtime_error(setup + " is signed already");
    SignFileInPlace(signing, setup);
    printf("%s: signed\n", setup.c_str());
    return CommandSucceeded;
}
