#include "builder/code_signing.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "archive/records.h"
#include "builder/host_system.h"
#include "builder/whole_file.h"

namespace {

const char* const signingProgram = "osslsigncode";

// PE layout: the offset of the PE header, and in its optional header the
// data directory, whose fifth entry (file offset, size) is the certificate table.
const size_t PeOffsetField = 0x3C;
const size_t OptionalHeaderStart = 24;
const uint16_t Pe32Magic = 0x10B;
const uint16_t Pe32PlusMagic = 0x20B;
const size_t Pe32Directories = 96;
const size_t Pe32PlusDirectories = 112;
const size_t CertificateEntry = 4;

// The password from the environment variable, which must be set.
std::string PasswordFromEnvironment(const std::string& name) {
    const char* value = getenv(name.c_str());
    if (value == nullptr) throw std::runtime_error("the signing password's environment variable " + name + " is not set");
    return value;
}

std::vector<std::string> SigningArguments(const SigningOptions& options, const std::string& input,
                                          const std::string& output) {
    std::vector<std::string> args = {signingProgram, "sign"};
    if (options.key.empty()) {
        args.insert(args.end(), {"-pkcs12", options.certificate});
    } else {
        args.insert(args.end(), {"-certs", options.certificate, "-key", options.key});
    }
    if (!options.passwordFile.empty()) args.insert(args.end(), {"-readpass", options.passwordFile});
    if (!options.passwordEnv.empty()) args.insert(args.end(), {"-readpass", "-"});  // given on its input
    args.insert(args.end(), {"-h", "sha256"});
    if (!options.description.empty()) args.insert(args.end(), {"-n", options.description});
    if (!options.url.empty()) args.insert(args.end(), {"-i", options.url});
    if (!options.timestampUrl.empty()) args.insert(args.end(), {"-ts", options.timestampUrl});
    args.insert(args.end(), {"-in", input, "-out", output});
    return args;
}

void RemoveFile(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove(HostPath(path), ignored);
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& data) {
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr) throw std::runtime_error("cannot create " + path + ": " + strerror(errno));
    bool ok = fwrite(data.data(), 1, data.size(), file) == data.size();
    ok = fclose(file) == 0 && ok;
    if (!ok) throw std::runtime_error("cannot write " + path);
}

}  // namespace

void SignFile(const SigningOptions& options, const std::string& input, const std::string& output) {
    if (!options.passwordFile.empty() && !options.passwordEnv.empty())
        throw std::runtime_error("the signing password comes from a file or an environment variable, not both");
    std::string password = options.passwordEnv.empty() ? "" : PasswordFromEnvironment(options.passwordEnv);
    // osslsigncode will not write over a file.
    RemoveFile(output);
    std::string said;
    int status = RunProgram(SigningArguments(options, input, output), password, &said);
    if (status != 0) {
        RemoveFile(output);
        while (!said.empty() && (said.back() == '\n' || said.back() == '\r')) said.pop_back();
        throw std::runtime_error("cannot sign " + input + (status == 127 ? " (is osslsigncode installed?)" : "") +
                                 (said.empty() ? "" : ":\n" + said));
    }
}

std::vector<uint8_t> SignProgram(const SigningOptions& options, const std::vector<uint8_t>& program) {
    TemporaryFile unsigned_("kelvo-unsigned"), signed_("kelvo-signed");
    WriteFile(unsigned_.path, program);
    SignFile(options, unsigned_.path, signed_.path);
    return ReadWholeFile(signed_.path);
}

void SignFileInPlace(const SigningOptions& options, const std::string& path) {
    std::string signedPath = path + ".signing";
    SignFile(options, path, signedPath);
    std::error_code error;
    std::filesystem::rename(HostPath(signedPath), HostPath(path), error);
    if (error) {
        RemoveFile(signedPath);
        throw std::runtime_error("cannot replace " + path + " with its signed copy: " + error.message());
    }
}

bool HasSignature(const std::vector<uint8_t>& program) {
    if (program.size() < PeOffsetField + 4 || program[0] != 'M' || program[1] != 'Z') return false;
    size_t pe = ReadU32(&program[PeOffsetField]);
    if (pe + OptionalHeaderStart + 2 > program.size() || memcmp(&program[pe], "PE\0\0", 4) != 0) return false;
    size_t optional = pe + OptionalHeaderStart;
    uint16_t magic = ReadU16(&program[optional]);
    size_t directories = optional + (magic == Pe32PlusMagic ? Pe32PlusDirectories : Pe32Directories);
    if (magic != Pe32Magic && magic != Pe32PlusMagic) return false;
    size_t entry = directories + 8 * CertificateEntry;
    if (entry + 8 > program.size()) return false;
    return ReadU32(&program[entry + 4]) != 0;
}
