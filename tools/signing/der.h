// SPDX-License-Identifier: MIT
// A minimal DER reader for what the Windows signature check takes from a signature itself:
// certificate names as libcrypto prints them, and the image digest Authenticode signs. Every
// read stays inside the bytes given; a crafted signature gets "no" rather than a wild read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One tag-length-value: `content` holds `length` bytes, `end` is just past it.
struct DerItem {
    unsigned char first = 0;  // the identifier octet: class, constructed bit, tag number < 31
    const unsigned char* content = nullptr;
    std::size_t length = 0;
    const unsigned char* end = nullptr;
};

// Reads the item at `at`, which must end by `limit`: definite lengths only. Returns false for
// anything that does not fit.
bool ReadDer(const unsigned char* at, const unsigned char* limit, DerItem* item);

// An OBJECT IDENTIFIER's content as dotted text ("1.2.840.113549"); empty when malformed.
std::string OidText(const unsigned char* content, std::size_t length);

// A Name (the DER of its SEQUENCE) as libcrypto's X509_NAME_print_ex prints it with
// XN_FLAG_ONELINE & ~XN_FLAG_SPC_EQ & ~ASN1_STRFLGS_ESC_MSB: "C=JP, O=Maker, CN=Name" in the
// certificate's order, UTF-8 kept, RFC 2253 specials quoted. "?" when it cannot be read.
std::string NameText(const unsigned char* der, std::size_t size);

// The short name ("SHA256") of a digest algorithm by its OID; empty when tidepack knows none.
std::string DigestName(const std::string& oid);

// SpcIndirectDataContent (the DER of its SEQUENCE): the image digest's algorithm OID and the
// digest, and the bytes the signer's messageDigest covers (the contents without the outer tag
// and length). Returns false when it is damaged.
bool ReadSpcIndirectData(const unsigned char* der, std::size_t size, std::string* oid,
                         std::vector<unsigned char>* digest, const unsigned char** signedContent,
                         std::size_t* signedLength);

// When a signature's timestamp says it was made, seconds since 1970 UTC: the genTime of an
// RFC 3161 token (the attribute `oid` 1.3.6.1.4.1.311.3.3.1, its value a ContentInfo) or the
// signingTime of a PKCS#9 countersignature (1.2.840.113549.1.9.6, a SignerInfo); `der` is the
// attribute's value. Returns false when it holds no such time.
bool TimestampTime(const std::string& oid, const unsigned char* der, std::size_t size,
                   std::int64_t* seconds);
