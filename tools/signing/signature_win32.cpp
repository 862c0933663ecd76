// SPDX-License-Identifier: MIT
// The signature check's cryptography on Windows: CryptoAPI's messages and certificates
// (crypt32), digests by CNG (bcrypt). Names are printed from their DER as the Linux tool
// prints them (der.h), since CertNameToStr formats them otherwise.
#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "signing/der.h"
#include "signing/signature_seam.h"
#include "system/files.h"

const char* const OSSLSIGNCODE_MISSING =
    "--sign and --sign-pkcs11 need osslsigncode.exe on PATH; to sign with signtool, use "
    "--sign-command 'signtool sign /fd sha256 ... \"%1\"'";
const char* const PKCS11_ENGINE_PACKAGE =
    "libp11's pkcs11.dll, beside osslsigncode.exe or in its ..\\lib\\engines-3 folder";
// osslsigncode.exe cannot open its standard input by a name: the password goes into a file in
// the signing folder instead (sign.cpp).
const char* const STDIN_FILE_NAME = "";

namespace {

constexpr DWORD ENCODING = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr char MESSAGE_DIGEST[] = "1.2.840.113549.1.9.4";
constexpr char AUTHORITY_KEY_ID[] = "2.5.29.35";
constexpr char SUBJECT_KEY_ID[] = "2.5.29.14";

struct MessageClose {
    void operator()(void* message) const { CryptMsgClose(message); }
};
struct StoreClose {
    void operator()(void* store) const { CertCloseStore(store, 0); }
};
struct CertificateFree {
    void operator()(const CERT_CONTEXT* certificate) const {
        CertFreeCertificateContext(certificate);
    }
};
using Message = std::unique_ptr<void, MessageClose>;
using Store = std::unique_ptr<void, StoreClose>;
using Certificate = std::unique_ptr<const CERT_CONTEXT, CertificateFree>;

// A parameter of a decoded message; the structures CryptoAPI puts there point into it, and new
// aligns it for them.
// `ok` only when it holds at least `minimum` bytes, the structure asked for.
std::vector<unsigned char> Parameter(HCRYPTMSG message, DWORD type, DWORD index, bool* ok,
                                     std::size_t minimum = 1) {
    DWORD size = 0;
    *ok = CryptMsgGetParam(message, type, index, nullptr, &size) && size >= minimum;
    std::vector<unsigned char> value(*ok ? size : 0);
    if (*ok) *ok = CryptMsgGetParam(message, type, index, value.data(), &size) && size >= minimum;
    if (*ok) value.resize(size);
    return value;
}

std::string BlobName(const CERT_NAME_BLOB& blob) { return NameText(blob.pbData, blob.cbData); }

bool SameBytes(const unsigned char* a, std::size_t aLength, const unsigned char* b,
               std::size_t bLength) {
    return aLength == bLength && (aLength == 0 || std::memcmp(a, b, aLength) == 0);
}

// A FILETIME (100 ns since 1601) in seconds since 1970.
std::int64_t UnixTime(const FILETIME& time) {
    std::uint64_t ticks = (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
    return static_cast<std::int64_t>(ticks / 10000000u) - 11644473600;
}

// As libcrypto's X509_self_signed(certificate, 0) says: the subject is the issuer, and the
// authority key identifier, where there is one, names this certificate.
bool SelfSigned(const CERT_INFO& info) {
    if (!SameBytes(info.Subject.pbData, info.Subject.cbData, info.Issuer.pbData,
                   info.Issuer.cbData))
        return false;
    const CERT_EXTENSION* authority =
        CertFindExtension(AUTHORITY_KEY_ID, info.cExtension, info.rgExtension);
    if (!authority) return true;
    const unsigned char* end = authority->Value.pbData + authority->Value.cbData;
    DerItem sequence, part, own;
    if (!ReadDer(authority->Value.pbData, end, &sequence) || sequence.first != 0x30) return false;
    const CERT_EXTENSION* subject =
        CertFindExtension(SUBJECT_KEY_ID, info.cExtension, info.rgExtension);
    bool hasOwn =
        subject &&
        ReadDer(subject->Value.pbData, subject->Value.pbData + subject->Value.cbData, &own) &&
        own.first == 0x04;
    // The serial number CryptoAPI keeps little-endian.
    std::vector<unsigned char> serial(info.SerialNumber.pbData,
                                      info.SerialNumber.pbData + info.SerialNumber.cbData);
    std::reverse(serial.begin(), serial.end());
    for (const unsigned char* at = sequence.content; at < sequence.end; at = part.end) {
        if (!ReadDer(at, sequence.end, &part)) return false;
        if (part.first == 0x80 && hasOwn &&
            !SameBytes(part.content, part.length, own.content, own.length))
            return false;
        if (part.first == 0x82 &&
            !SameBytes(part.content, part.length, serial.data(), serial.size()))
            return false;
        if (part.first != 0xA1) continue;
        // The issuer's names: a directory name among them must be this one's issuer.
        DerItem name, inner;
        for (const unsigned char* in = part.content; in < part.end; in = name.end) {
            if (!ReadDer(in, part.end, &name)) return false;
            if (name.first != 0xA4) continue;
            if (!ReadDer(name.content, name.end, &inner)) return false;
            if (!SameBytes(name.content, name.end - name.content, info.Issuer.pbData,
                           info.Issuer.cbData))
                return false;
            break;
        }
    }
    return true;
}

const wchar_t* CngName(const std::string& algorithm) {
    if (algorithm == "MD5") return BCRYPT_MD5_ALGORITHM;
    if (algorithm == "SHA1") return BCRYPT_SHA1_ALGORITHM;
    if (algorithm == "SHA256") return BCRYPT_SHA256_ALGORITHM;
    if (algorithm == "SHA384") return BCRYPT_SHA384_ALGORITHM;
    if (algorithm == "SHA512") return BCRYPT_SHA512_ALGORITHM;
    return nullptr;
}

std::string Utf8(const std::wstring& wide) {
    int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                     nullptr, 0, nullptr, nullptr);
    std::string text(length > 0 ? length : 0, '\0');
    if (length > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &text[0],
                            length, nullptr, nullptr);
    return text;
}

bool IsFile(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

bool DigestPieces(const std::string& algorithm,
                  const std::vector<std::pair<const unsigned char*, std::size_t>>& pieces,
                  std::vector<unsigned char>* digest) {
    const wchar_t* name = CngName(algorithm);
    BCRYPT_ALG_HANDLE provider = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (!name || !BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&provider, name, nullptr, 0)))
        return false;
    DWORD length = 0, size = 0;
    bool ok = BCRYPT_SUCCESS(BCryptGetProperty(provider, BCRYPT_HASH_LENGTH,
                                               reinterpret_cast<PUCHAR>(&length), sizeof length,
                                               &size, 0)) &&
              BCRYPT_SUCCESS(BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0));
    for (const auto& piece : pieces) {
        // CNG takes a 32-bit length; a program may be longer.
        for (std::size_t done = 0; ok && done < piece.second;) {
            ULONG part = static_cast<ULONG>(std::min<std::size_t>(piece.second - done, 1u << 30));
            ok = BCRYPT_SUCCESS(
                BCryptHashData(hash, const_cast<PUCHAR>(piece.first + done), part, 0));
            done += part;
        }
    }
    std::vector<unsigned char> value(length);
    ok = ok && BCRYPT_SUCCESS(BCryptFinishHash(hash, value.data(), length, 0));
    if (hash) BCryptDestroyHash(hash);
    BCryptCloseAlgorithmProvider(provider, 0);
    if (ok) *digest = value;
    return ok;
}

void CheckPkcs7(const Bytes& bytes, const DigestLayout& layout, const unsigned char* der,
                long length, SignatureCheck* check, std::vector<SignatureCheck>* nested) {
    auto broken = [check](const std::string& reason) {
        check->state = SignatureState::Broken;
        check->reason = reason;
    };
    // The signature alone, without the zeros that pad the table entry after it.
    DerItem whole;
    if (length > 0 && ReadDer(der, der + length, &whole)) length = whole.end - der;
    Message message(CryptMsgOpenToDecode(ENCODING, 0, 0, 0, nullptr, nullptr));
    bool ok = message && length > 0 && CryptMsgUpdate(message.get(), der, length, TRUE);
    DWORD type = 0, size = sizeof type;
    ok = ok && CryptMsgGetParam(message.get(), CMSG_TYPE_PARAM, 0, &type, &size) &&
         type == CMSG_SIGNED;
    std::vector<unsigned char> contentType, content;
    if (ok) contentType = Parameter(message.get(), CMSG_INNER_CONTENT_TYPE_PARAM, 0, &ok);
    if (ok) content = Parameter(message.get(), CMSG_CONTENT_PARAM, 0, &ok);
    contentType.push_back(0);
    if (!ok || std::strcmp(reinterpret_cast<const char*>(contentType.data()), SPC_INDIRECT_DATA) ||
        content.empty() || content[0] != 0x30)
        return broken("the certificate table holds no Authenticode signature");

    // Each signer's certificate, found in the signature by its issuer and serial number.
    DWORD signers = 0;
    size = sizeof signers;
    Store store(CertOpenStore(CERT_STORE_PROV_MSG, ENCODING, 0, 0, message.get()));
    if (!CryptMsgGetParam(message.get(), CMSG_SIGNER_COUNT_PARAM, 0, &signers, &size)) signers = 0;
    std::vector<Certificate> certificates;
    for (DWORD k = 0; k < signers && store; ++k) {
        std::vector<unsigned char> raw =
            Parameter(message.get(), CMSG_SIGNER_CERT_INFO_PARAM, k, &ok, sizeof(CERT_INFO));
        if (!ok) break;
        certificates.emplace_back(CertGetSubjectCertificateFromStore(
            store.get(), ENCODING, reinterpret_cast<CERT_INFO*>(raw.data())));
        if (!certificates.back()) break;
    }
    if (signers < 1 || certificates.size() != signers || !certificates.back())
        return broken("the signer's certificate is not in the signature");
    const CERT_CONTEXT* signer = certificates[0].get();
    check->subject = BlobName(signer->pCertInfo->Subject);
    check->issuer = BlobName(signer->pCertInfo->Issuer);
    check->selfSigned = SelfSigned(*signer->pCertInfo);
    check->validFrom = UnixTime(signer->pCertInfo->NotBefore);
    check->validUntil = UnixTime(signer->pCertInfo->NotAfter);
    // Authenticode has exactly one signer.
    if (signers != 1)
        return broken("the signature has " + std::to_string(signers) + " signers, not one");
    std::vector<unsigned char> raw =
        Parameter(message.get(), CMSG_SIGNER_UNAUTH_ATTR_PARAM, 0, &ok, sizeof(CRYPT_ATTRIBUTES));
    // None is no fault: CryptoAPI says so as a failure.
    const auto* unsignedAttributes = reinterpret_cast<const CRYPT_ATTRIBUTES*>(raw.data());
    for (DWORD k = 0; ok && k < unsignedAttributes->cAttr; ++k) {
        const CRYPT_ATTRIBUTE& attribute = unsignedAttributes->rgAttr[k];
        std::string oid = attribute.pszObjId ? attribute.pszObjId : "";
        if (oid == COUNTERSIGNATURE || oid == RFC3161_TIMESTAMP) {
            check->timestamped = true;
            if (attribute.cValue > 0)
                TimestampTime(oid, attribute.rgValue[0].pbData, attribute.rgValue[0].cbData,
                              &check->timestampTime);
        }
        if (oid != SPC_NESTED_SIGNATURE) continue;
        // Outside what this signer signed: each nested signature stands on its own.
        for (DWORD v = 0; v < attribute.cValue && nested->size() < NESTED_LIMIT; ++v) {
            const CRYPT_ATTR_BLOB& value = attribute.rgValue[v];
            SignatureCheck inner;
            std::size_t at = nested->size();
            nested->emplace_back();
            if (value.cbData > 0 && value.pbData[0] == 0x30) {
                CheckPkcs7(bytes, layout, value.pbData, static_cast<long>(value.cbData), &inner,
                           nested);
            } else {
                inner.state = SignatureState::Broken;
                inner.reason = "a nested signature is not a PKCS#7 signature";
            }
            (*nested)[at] = std::move(inner);
        }
    }

    std::string oid;
    const unsigned char* signedContent = nullptr;
    std::size_t signedLength = 0;
    if (!ReadSpcIndirectData(content.data(), content.size(), &oid, &check->imageDigest,
                             &signedContent, &signedLength))
        return broken("the signed SpcIndirectDataContent is damaged");
    check->digest = DigestName(oid);
    if (check->digest.empty())
        return broken("the image digest's algorithm is not one tidepack knows");
    std::vector<unsigned char> digest;
    std::string error;
    if (!ImageDigest(bytes, layout, check->digest, &digest, &error)) return broken(error);
    if (digest != check->imageDigest)
        return broken("changed after signing: the image digest is not the signed one");

    // The signer's signature over the signed attributes, and their messageDigest over the
    // signed content: Wine's CryptMsgControl checks only the first for such content, so the
    // second is checked here.
    raw = Parameter(message.get(), CMSG_SIGNER_INFO_PARAM, 0, &ok, sizeof(CMSG_SIGNER_INFO));
    const auto* signerInfo = reinterpret_cast<const CMSG_SIGNER_INFO*>(raw.data());
    std::string signerDigest = ok && signerInfo->HashAlgorithm.pszObjId
                                   ? DigestName(signerInfo->HashAlgorithm.pszObjId)
                                   : "";
    if (signerDigest.empty())
        return broken("the signer's digest algorithm is not one tidepack knows");
    const char* notVerified = "the signer's signature over the signed content does not verify";
    bool hasSigned = false;
    std::vector<unsigned char> signedRaw = Parameter(message.get(), CMSG_SIGNER_AUTH_ATTR_PARAM, 0,
                                                     &hasSigned, sizeof(CRYPT_ATTRIBUTES));
    if (hasSigned) {
        const auto* signedAttributes = reinterpret_cast<const CRYPT_ATTRIBUTES*>(signedRaw.data());
        const CRYPT_ATTRIBUTE* found = nullptr;
        for (DWORD k = 0; k < signedAttributes->cAttr && !found; ++k)
            if (signedAttributes->rgAttr[k].pszObjId &&
                std::strcmp(signedAttributes->rgAttr[k].pszObjId, MESSAGE_DIGEST) == 0)
                found = &signedAttributes->rgAttr[k];
        DerItem value;
        if (!found || found->cValue < 1 ||
            !ReadDer(found->rgValue[0].pbData, found->rgValue[0].pbData + found->rgValue[0].cbData,
                     &value) ||
            value.first != 0x04 ||
            !DigestPieces(signerDigest, {{signedContent, signedLength}}, &digest) ||
            !SameBytes(digest.data(), digest.size(), value.content, value.length))
            return broken(notVerified);
    }
    if (!CryptMsgControl(message.get(), 0, CMSG_CTRL_VERIFY_SIGNATURE, signer->pCertInfo))
        return broken(notVerified);
    check->state = SignatureState::Holds;
}

void ClearCryptoErrors() {}

// osslsigncode.exe loads the engine from beside itself or from its own OpenSSL's engine folder.
std::string Pkcs11Engine() {
    DWORD size = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    std::wstring path(size, L'\0');
    path.resize(size > 0 ? GetEnvironmentVariableW(L"PATH", &path[0], size) : 0);
    std::wstring expected;
    for (std::size_t start = 0; start <= path.size();) {
        std::size_t end = std::min(path.find(L';', start), path.size());
        std::wstring folder = path.substr(start, end - start);
        start = end + 1;
        folder.erase(std::remove(folder.begin(), folder.end(), L'"'), folder.end());
        if (folder.empty()) continue;
        if (folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
        if (!IsFile(folder + L"osslsigncode.exe")) continue;
        for (const wchar_t* place : {L"pkcs11.dll", L"..\\lib\\engines-3\\pkcs11.dll"})
            if (IsFile(folder + place)) return Utf8(folder + place);
        if (expected.empty()) expected = folder + L"pkcs11.dll";
    }
    return Utf8(expected);
}

// The names of the certificates in a PEM chain, in order, up to the first that cannot be read.
std::vector<std::string> ChainSubjects(const std::string& path) {
    std::vector<std::string> subjects;
    std::vector<unsigned char> file;
    std::string error;
    if (!ReadWholeFile(path, &file, &error, 64 << 20)) return subjects;
    std::string text(file.begin(), file.end());
    const std::string begin = "-----BEGIN CERTIFICATE-----", end = "-----END CERTIFICATE-----";
    for (std::size_t at = text.find(begin); at != std::string::npos; at = text.find(begin, at)) {
        std::size_t body = at + begin.size(), stop = text.find(end, body);
        if (stop == std::string::npos) break;
        at = stop + end.size();
        DWORD length = 0;
        std::vector<BYTE> der;
        bool ok = CryptStringToBinaryA(text.data() + body, static_cast<DWORD>(stop - body),
                                       CRYPT_STRING_BASE64, nullptr, &length, nullptr, nullptr);
        if (ok) der.resize(length);
        ok = ok && CryptStringToBinaryA(text.data() + body, static_cast<DWORD>(stop - body),
                                        CRYPT_STRING_BASE64, der.data(), &length, nullptr, nullptr);
        Certificate certificate(ok ? CertCreateCertificateContext(ENCODING, der.data(), length)
                                   : nullptr);
        if (!certificate) break;
        subjects.push_back(BlobName(certificate->pCertInfo->Subject));
    }
    return subjects;
}
