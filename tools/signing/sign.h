// SPDX-License-Identifier: MIT
// Signing patch programs: by osslsigncode or the vendor's own signing command, each signature
// checked (signature.h) before the signed program takes the output's place.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "signing/signature.h"
#include "system/report.h"

struct SignOptions {
    // One route, or none: the program is not signed.
    std::string pkcs12;             // a certificate and private key in a file,
    std::string pkcs11Module;       // a key on a token or HSM, through this PKCS#11 module,
    std::string command;            // or the vendor's own command, run through the shell on %1
    std::string passwordFile;       // the key's password or the token's PIN is this file's first
    std::string passwordEnv;        // line, or this environment variable's value
    std::string keyUri;             // the token's key, a pkcs11: URI
    std::string certChain;          // the signer's certificate chain as PEM, for the token's key
    std::string timestampUrl;       // an RFC 3161 time-stamp server; empty: no timestamp
    std::string description;        // the signed content's name, shown when Windows asks to run it
    std::string url;                // a page about it, shown beside the description
    unsigned timeoutSeconds = 300;  // a token may wait for its PIN to be typed
    bool verbose = false;           // osslsigncode's own messages, echoed
    bool Signs() const { return !(pkcs12 + pkcs11Module + command).empty(); }
};

// What can be checked before a build: the files can be read, the variable is set, the URI
// carries no PIN, and osslsigncode (and the PKCS#11 engine) are installed.
// Returns 1; 0 with the reason in `error`.
int CheckSignOptions(const SignOptions& options, std::string* error);

// Every file the route reads: the key file, the password or PIN file, the module, the chain, and
// each word of the signing command that names an existing file (its program or script, a key
// it signs with), so that no output takes the place of one.
std::vector<std::string> SignInputs(const SignOptions& options);

// Signs `program` by the route `options` names: Authenticode SHA-256 through osslsigncode, or
// the vendor's command on a private copy. Once every signature holds by CheckSignature, its
// certificate valid when it was made (ValidityFault), and the signed image digest is that of
// `program`, puts the result at `signedOutput` whole, executable, and names the signer in
// `signer`. The command's output (or with `verbose`, osslsigncode's) passes through `echo` as
// it comes, since a token may ask for its PIN there.
// Returns 1; 0 with one line of reason in `error`, and `signedOutput` left as it was.
int SignProgram(const std::vector<unsigned char>& program, const std::string& signedOutput,
                const SignOptions& options, std::FILE* echo, std::string* signer,
                std::string* error);
