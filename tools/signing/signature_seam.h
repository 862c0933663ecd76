// SPDX-License-Identifier: MIT
// What a platform's cryptography does for the signature check: signature_posix.cpp with
// libcrypto, signature_win32.cpp with CryptoAPI. The rest of the check is shared.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "program/bounded_bytes.h"
#include "signing/signature_check.h"

inline constexpr char SPC_INDIRECT_DATA[] = "1.3.6.1.4.1.311.2.1.4";
inline constexpr char RFC3161_TIMESTAMP[] = "1.3.6.1.4.1.311.3.3.1";
inline constexpr char SPC_NESTED_SIGNATURE[] = "1.3.6.1.4.1.311.2.4.1";
inline constexpr char COUNTERSIGNATURE[] = "1.2.840.113549.1.9.6";
// Nested signatures read at most, so a crafted table cannot make the check recurse deeply.
inline constexpr std::size_t NESTED_LIMIT = 16;

// What the Authenticode image digest skips or stops at.
struct DigestLayout {
    std::uint64_t checksum = 0;       // the CheckSum field's offset
    std::uint64_t securityEntry = 0;  // the security data-directory entry's offset; 0: none
    std::uint32_t tableOffset = 0;    // the certificate table
    std::uint32_t tableSize = 0;
};

// The image digest by algorithm ("SHA256"): the file in order up to the certificate table,
// without CheckSum and the security entry, then `padding` (< 8) zero bytes. Shared.
bool ImageDigest(const Bytes& bytes, const DigestLayout& layout, const std::string& algorithm,
                 std::vector<unsigned char>* digest, std::string* error, std::uint64_t padding = 0);

// The digest of `pieces` in order by the algorithm's short name ("SHA256", "SHA1"); false when
// the platform does not know it.
bool DigestPieces(const std::string& algorithm,
                  const std::vector<std::pair<const unsigned char*, std::size_t>>& pieces,
                  std::vector<unsigned char>* digest);

// A PKCS#7 signature from the certificate table, `length` bytes at `der`: whose it is, and
// whether it holds. Those nested in it go to `nested` (at most NESTED_LIMIT), each after the
// one it is nested in.
void CheckPkcs7(const Bytes& bytes, const DigestLayout& layout, const unsigned char* der,
                long length, SignatureCheck* check, std::vector<SignatureCheck>* nested);

// Forgets what the platform noted of failures during a check (libcrypto's error queue).
void ClearCryptoErrors();

// The PKCS#11 engine osslsigncode loads; empty when the platform has none known.
std::string Pkcs11Engine();

// The names of the certificates in a PEM chain; empty when it holds none.
std::vector<std::string> ChainSubjects(const std::string& path);

// What to say when osslsigncode is missing, and where the PKCS#11 engine comes from.
extern const char* const OSSLSIGNCODE_MISSING;
extern const char* const PKCS11_ENGINE_PACKAGE;
// The name under which osslsigncode reads its standard input as a file.
extern const char* const STDIN_FILE_NAME;
