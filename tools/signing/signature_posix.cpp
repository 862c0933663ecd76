// SPDX-License-Identifier: MIT
// The signature check's cryptography on Linux: libcrypto.
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <algorithm>
#include <ctime>
#include <cstring>
#include <memory>

#include "signing/der.h"
#include "signing/signature_seam.h"

const char* const OSSLSIGNCODE_MISSING =
    "osslsigncode is not installed (Debian package osslsigncode)";
const char* const PKCS11_ENGINE_PACKAGE = "Debian package libengine-pkcs11-openssl";
const char* const STDIN_FILE_NAME = "/dev/stdin";

namespace {

std::string NameText(const X509_NAME* name) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    // "CN=..., O=...", in the certificate's order, UTF-8 kept, control characters escaped.
    if (!bio || X509_NAME_print_ex(bio.get(), name, 0,
                                   XN_FLAG_ONELINE & ~XN_FLAG_SPC_EQ & ~ASN1_STRFLGS_ESC_MSB) < 0)
        return "?";
    char* text = nullptr;
    long length = BIO_get_mem_data(bio.get(), &text);
    return std::string(text, length > 0 ? static_cast<std::size_t>(length) : 0);
}

bool IsObject(const ASN1_OBJECT* object, const char* oid) {
    char text[80];
    return OBJ_obj2txt(text, sizeof text, object, 1) > 0 && std::strcmp(text, oid) == 0;
}

// The digest by its OID, among those both platforms know (der.h), so that both say the same.
const EVP_MD* KnownDigest(const ASN1_OBJECT* object) {
    char text[80];
    if (OBJ_obj2txt(text, sizeof text, object, 1) <= 0 || DigestName(text).empty()) return nullptr;
    return EVP_get_digestbyname(DigestName(text).c_str());
}

}  // namespace

bool DigestPieces(const std::string& algorithm,
                  const std::vector<std::pair<const unsigned char*, std::size_t>>& pieces,
                  std::vector<unsigned char>* digest) {
    const EVP_MD* md = EVP_get_digestbyname(algorithm.c_str());
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                    EVP_MD_CTX_free);
    unsigned char value[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    bool ok = md && context && EVP_DigestInit_ex(context.get(), md, nullptr) == 1;
    for (const auto& piece : pieces)
        ok = ok && EVP_DigestUpdate(context.get(), piece.first, piece.second) == 1;
    if (!ok || EVP_DigestFinal_ex(context.get(), value, &length) != 1) return false;
    digest->assign(value, value + length);
    return true;
}

// A signature in the certificate table: whose it is, and whether it holds. Those nested in it
// go to `nested`, each after the one it is nested in.
void CheckPkcs7(const Bytes& bytes, const DigestLayout& layout, const unsigned char* der,
                long length, SignatureCheck* check, std::vector<SignatureCheck>* nested) {
    auto broken = [check](const std::string& reason) {
        check->state = SignatureState::Broken;
        check->reason = reason;
    };
    std::unique_ptr<PKCS7, decltype(&PKCS7_free)> p7(d2i_PKCS7(nullptr, &der, length), PKCS7_free);
    if (!p7 || !PKCS7_type_is_signed(p7.get()) || !p7->d.sign || !p7->d.sign->contents ||
        !IsObject(p7->d.sign->contents->type, SPC_INDIRECT_DATA) ||
        !p7->d.sign->contents->d.other || p7->d.sign->contents->d.other->type != V_ASN1_SEQUENCE)
        return broken("the certificate table holds no Authenticode signature");

    std::unique_ptr<STACK_OF(X509), void (*)(STACK_OF(X509)*)> signers(
        PKCS7_get0_signers(p7.get(), nullptr, 0), [](STACK_OF(X509) * s) { sk_X509_free(s); });
    if (!signers || sk_X509_num(signers.get()) < 1)
        return broken("the signer's certificate is not in the signature");
    X509* signer = sk_X509_value(signers.get(), 0);
    check->subject = NameText(X509_get_subject_name(signer));
    check->issuer = NameText(X509_get_issuer_name(signer));
    check->selfSigned = X509_self_signed(signer, 0) == 1;
    std::tm from{}, until{};
    if (ASN1_TIME_to_tm(X509_get0_notBefore(signer), &from) == 1 &&
        ASN1_TIME_to_tm(X509_get0_notAfter(signer), &until) == 1) {
        check->validFrom = timegm(&from);
        check->validUntil = timegm(&until);
    }
    // Authenticode has exactly one signer.
    STACK_OF(PKCS7_SIGNER_INFO)* infos = PKCS7_get_signer_info(p7.get());
    if (sk_PKCS7_SIGNER_INFO_num(infos) != 1)
        return broken("the signature has " + std::to_string(sk_PKCS7_SIGNER_INFO_num(infos)) +
                      " signers, not one");
    PKCS7_SIGNER_INFO* info = sk_PKCS7_SIGNER_INFO_value(infos, 0);
    for (int k = 0; k < sk_X509_ATTRIBUTE_num(info->unauth_attr); ++k) {
        X509_ATTRIBUTE* attribute = sk_X509_ATTRIBUTE_value(info->unauth_attr, k);
        const ASN1_OBJECT* type = X509_ATTRIBUTE_get0_object(attribute);
        bool countersigned = OBJ_obj2nid(type) == NID_pkcs9_countersignature;
        if (countersigned || IsObject(type, RFC3161_TIMESTAMP)) {
            check->timestamped = true;
            const ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(attribute, 0);
            if (value && value->type == V_ASN1_SEQUENCE)
                TimestampTime(countersigned ? COUNTERSIGNATURE : RFC3161_TIMESTAMP,
                              value->value.sequence->data,
                              static_cast<std::size_t>(value->value.sequence->length),
                              &check->timestampTime);
        }
        if (!IsObject(type, SPC_NESTED_SIGNATURE)) continue;
        // Outside what this signer signed: each nested signature stands on its own.
        for (int v = 0; v < X509_ATTRIBUTE_count(attribute) && nested->size() < NESTED_LIMIT; ++v) {
            const ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(attribute, v);
            SignatureCheck inner;
            std::size_t at = nested->size();
            nested->emplace_back();
            if (value && value->type == V_ASN1_SEQUENCE) {
                CheckPkcs7(bytes, layout, value->value.sequence->data,
                           value->value.sequence->length, &inner, nested);
            } else {
                inner.state = SignatureState::Broken;
                inner.reason = "a nested signature is not a PKCS#7 signature";
            }
            (*nested)[at] = std::move(inner);
        }
    }

    // SpcIndirectDataContent: SEQUENCE { SpcAttributeTypeAndOptionalValue, DigestInfo }. The
    // signed messageDigest covers its contents without the outer tag and length.
    const ASN1_STRING* sequence = p7->d.sign->contents->d.other->value.sequence;
    const unsigned char* at = sequence->data;
    long inner = 0, part = 0;
    int tag, type;
    const char* damaged = "the signed SpcIndirectDataContent is damaged";
    if (ASN1_get_object(&at, &inner, &tag, &type, sequence->length) & 0x80 ||
        tag != V_ASN1_SEQUENCE)
        return broken(damaged);
    const unsigned char* content = at;
    if (ASN1_get_object(&at, &part, &tag, &type, inner) & 0x80) return broken(damaged);
    at += part;
    long rest = inner - (at - content);
    std::unique_ptr<X509_SIG, decltype(&X509_SIG_free)> digestInfo(
        rest > 0 ? d2i_X509_SIG(nullptr, &at, rest) : nullptr, X509_SIG_free);
    if (!digestInfo) return broken(damaged);
    const X509_ALGOR* algorithm;
    const ASN1_OCTET_STRING* signedDigest;
    X509_SIG_get0(digestInfo.get(), &algorithm, &signedDigest);
    const ASN1_OBJECT* object;
    X509_ALGOR_get0(&object, nullptr, nullptr, algorithm);
    const EVP_MD* md = KnownDigest(object);
    if (!md) return broken("the image digest's algorithm is not one tidepack knows");
    check->digest = OBJ_nid2sn(EVP_MD_get_type(md));  // as DigestName has it
    check->imageDigest.assign(
        ASN1_STRING_get0_data(signedDigest),
        ASN1_STRING_get0_data(signedDigest) + ASN1_STRING_length(signedDigest));

    std::vector<unsigned char> digest;
    std::string error;
    if (!ImageDigest(bytes, layout, check->digest, &digest, &error)) return broken(error);
    if (digest.size() != static_cast<std::size_t>(ASN1_STRING_length(signedDigest)) ||
        !std::equal(digest.begin(), digest.end(), ASN1_STRING_get0_data(signedDigest)))
        return broken("changed after signing: the image digest is not the signed one");

    // The signer's signature over the signed attributes, whose messageDigest must match. Not
    // PKCS7_verify: it leaks its digest BIOs when the signature lists two digest algorithms.
    const EVP_MD* signerMd = KnownDigest(info->digest_alg->algorithm);
    std::unique_ptr<BIO, decltype(&BIO_free_all)> chain(BIO_new(BIO_f_md()), BIO_free_all);
    BIO* source = BIO_new_mem_buf(content, static_cast<int>(inner));
    if (!signerMd || !chain || !source || BIO_set_md(chain.get(), signerMd) != 1) {
        BIO_free(source);
        return broken("the signer's digest algorithm is not one tidepack knows");
    }
    BIO_push(chain.get(), source);
    unsigned char piece[4096];
    while (BIO_read(chain.get(), piece, sizeof piece) > 0) {
    }
    if (PKCS7_signatureVerify(chain.get(), p7.get(), info, signer) != 1)
        return broken("the signer's signature over the signed content does not verify");
    check->state = SignatureState::Holds;
}

void ClearCryptoErrors() { ERR_clear_error(); }

// libcrypto's engine folder holds the PKCS#11 engine that osslsigncode loads.
std::string Pkcs11Engine() {
    std::string text = OpenSSL_version(OPENSSL_ENGINES_DIR);  // ENGINESDIR: "/usr/lib/..."
    std::size_t open = text.find('"'), close = text.rfind('"');
    if (open == std::string::npos || close <= open) return "";
    return text.substr(open + 1, close - open - 1) + "/pkcs11.so";
}

// The names of the certificates in a PEM chain; empty when it holds none.
std::vector<std::string> ChainSubjects(const std::string& path) {
    std::vector<std::string> subjects;
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_file(path.c_str(), "r"), BIO_free);
    while (bio) {
        std::unique_ptr<X509, decltype(&X509_free)> certificate(
            PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr), X509_free);
        if (!certificate) break;
        subjects.push_back(NameText(X509_get_subject_name(certificate.get())));
    }
    ERR_clear_error();
    return subjects;
}
