// Authenticode signatures of patch programs: made by osslsigncode, checked with libcrypto alone,
// so that list and verify need no signing tool.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct SignOptions {
    std::string pkcs12;        // certificate and private key; empty: the program is not signed
    std::string passwordFile;  // the key's password is this file's first line,
    std::string passwordEnv;   // or this environment variable's value
    std::string timestampUrl;  // an RFC 3161 time-stamp server; empty: no timestamp
    std::string description;   // the signed content's name, shown when Windows asks to run it
};

// What can be checked before a build: the files can be read, the variable is set and
// osslsigncode is on PATH. Returns 1; 0 with the reason in `error`.
int CheckSignOptions(const SignOptions& options, std::string* error);

// Signs `program` with Authenticode SHA-256 through osslsigncode and, once the signature holds
// by CheckSignature, puts it at `signedOutput` whole, executable.
// Returns 0; else EXIT_FAULT with the reason in `error`, osslsigncode's messages on `err`, and
// `signedOutput` left as it was.
int SignProgram(const std::vector<unsigned char>& program, const std::string& signedOutput,
                const SignOptions& options, std::FILE* err, std::string* error);

enum class SignatureState {
    NotProgram,  // not a PE image: nothing to say
    Unsigned,
    Holds,   // the image digest and the signer's signature both check out
    Broken,  // changed after signing, a signature that fails, or a damaged certificate table
};

struct SignatureCheck {
    SignatureState state = SignatureState::NotProgram;
    std::string reason;   // why it is broken
    std::string subject;  // the signer's certificate, when it could be read
    std::string issuer;
    std::string digest;  // the image digest's algorithm, such as SHA256
    bool selfSigned = false;
    bool timestamped = false;  // a timestamp is there; it is not checked
};

// Checks the first Authenticode signature of a PE image. Every offset is checked against `size`.
SignatureCheck CheckSignature(const unsigned char* data, std::uint64_t size);

// The signature of `bytes` for list (`listing`: aligned lines) or verify (lines led by `path`):
// nothing for a package file, "not signed", or the signer and whether the signature holds. A
// broken one is also named on `err`. Returns 1 when it is broken, else 0.
int ReportSignature(const std::string& path, const std::vector<unsigned char>& bytes, bool listing,
                    std::FILE* out, std::FILE* err);
