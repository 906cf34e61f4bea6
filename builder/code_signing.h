// Authenticode signatures on what kelvo writes: the setup program with its
// archive, and the uninstall program before it goes into the archive. The
// signing itself is osslsigncode's, run as a separate program (it must be
// on PATH). SHA-256 digests, the signature last in the file.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct SigningOptions {
    // A PKCS#12 file (.p12, .pfx), or, with `key`, a PEM certificate (chain).
    std::string certificate;
    std::string key;  // the PEM private key of a PEM certificate
    // Where the password of the PKCS#12 file or the key comes from: a file
    // (its first line) or an environment variable; never the command line,
    // where other users of the machine could read it.
    std::string passwordFile;
    std::string passwordEnv;
    std::string description;   // the program's name in the signature, as Windows shows it
    std::string url;           // its web page
    std::string timestampUrl;  // an RFC 3161 time-stamping server; empty: no time stamp

    bool Enabled() const { return !certificate.empty(); }
};

// Signs the PE program `input` into `output` (a different path). Throws
// std::runtime_error with osslsigncode's own words when it fails.
void SignFile(const SigningOptions& options, const std::string& input, const std::string& output);

// The signed copy of the program `program`, through temporary files.
std::vector<uint8_t> SignProgram(const SigningOptions& options, const std::vector<uint8_t>& program);

// Signs the file at `path` in place (through a temporary file beside it).
void SignFileInPlace(const SigningOptions& options, const std::string& path);

// True when `program` (at least its headers) is a PE image whose certificate
// table entry is set: it carries a signature already.
bool HasSignature(const std::vector<uint8_t>& program);
