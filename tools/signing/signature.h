// SPDX-License-Identifier: MIT
// Authenticode signatures of patch programs, checked with the platform's own cryptography
// (libcrypto, CryptoAPI), so that list and verify need no signing tool.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "signing/signature_check.h"
#include "system/report.h"

// Checks the Authenticode signature of a PE image and those nested in it. Every offset is
// checked against `size`.
SignatureCheck CheckSignature(const unsigned char* data, std::uint64_t size);

// The signatures of `bytes` for list (`listing`: aligned lines) or verify (lines led by `path`):
// nothing for a package file, "not signed", or for each signature, nested ones too, the signer
// and whether it holds. A broken one is also named among the messages. Returns 1 when one is
// broken, else 0.
int ReportSignature(const std::string& path, const std::vector<unsigned char>& bytes, bool listing,
                    Report* report);

// "2026-04-01 00:00 UTC to 2027-03-31 23:59 UTC", as list and verify print the validity.
std::string ValidityText(const SignatureCheck& check);

// Why Windows refuses a signature for its certificate's validity: the signer's certificate was
// not valid at the time its timestamp gives, or without a timestamp at `now` (seconds since 1970
// UTC), or the timestamp's time cannot be read. "" when it was valid.
std::string ValidityFault(const SignatureCheck& check, std::int64_t now);

// The Authenticode digest by `algorithm` that a signature of `program` must carry: the
// unsigned image padded with zeros to 8 bytes, as signing tools pad it before the certificate
// table. Returns false with the reason in `error`.
bool ProgramDigest(const std::vector<unsigned char>& program, const std::string& algorithm,
                   std::vector<unsigned char>* digest, std::string* error);
