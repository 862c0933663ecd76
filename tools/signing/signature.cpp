// SPDX-License-Identifier: MIT
#include "signing/signature.h"

#include <algorithm>
#include <cstring>
#include <ctime>

#include "program/pe_resource.h"
#include "signing/signature_seam.h"

namespace {

constexpr std::uint32_t WIN_CERT_REVISION_2_0 = 0x0200;
constexpr std::uint32_t WIN_CERT_TYPE_PKCS_SIGNED_DATA = 2;

bool ReadLayout(const Bytes& bytes, DigestLayout* layout, std::string* error) {
    PeLayout pe;
    if (!ReadPeLayout(bytes.data, bytes.size, &pe, error)) return false;
    layout->checksum = pe.optional + 64;
    if (PeDirectory(bytes.data, bytes.size, pe, PE_SECURITY_DIRECTORY, &layout->tableOffset,
                    &layout->tableSize))
        layout->securityEntry = pe.directories + 8 * PE_SECURITY_DIRECTORY;
    return true;
}

}  // namespace

// The image digest: the file in order up to the certificate table, without CheckSum and the
// security entry, then `padding` zero bytes. Hashing by sections instead would leave out the
// gaps between them, which the mingw-linked program has and osslsigncode (like Windows in
// practice) hashes.
bool ImageDigest(const Bytes& bytes, const DigestLayout& layout, const std::string& algorithm,
                 std::vector<unsigned char>* digest, std::string* error, std::uint64_t padding) {
    if (layout.tableOffset < layout.securityEntry + 8) {
        *error = "the certificate table at offset " + std::to_string(layout.tableOffset) +
                 " lies inside the PE headers";
        return false;
    }
    static const unsigned char zeros[8] = {};
    std::vector<std::pair<const unsigned char*, std::size_t>> pieces = {
        {bytes.data, layout.checksum},
        {bytes.data + layout.checksum + 4, layout.securityEntry - layout.checksum - 4},
        {bytes.data + layout.securityEntry + 8, layout.tableOffset - layout.securityEntry - 8},
        {zeros, padding}};
    if (padding >= sizeof zeros || !DigestPieces(algorithm, pieces, digest)) {
        *error = "cannot compute the " + algorithm + " image digest";
        return false;
    }
    return true;
}

bool ProgramDigest(const std::vector<unsigned char>& program, const std::string& algorithm,
                   std::vector<unsigned char>* digest, std::string* error) {
    Bytes bytes{program.data(), program.size()};
    DigestLayout layout;
    if (!ReadLayout(bytes, &layout, error)) return false;
    if (layout.securityEntry == 0) {
        *error = "cannot compute the " + algorithm + " image digest of the program";
        return false;
    }
    layout.tableOffset = static_cast<std::uint32_t>(program.size());
    return ImageDigest(bytes, layout, algorithm, digest, error, (8 - program.size() % 8) % 8);
}

SignatureCheck CheckSignature(const unsigned char* data, std::uint64_t size) {
    SignatureCheck check;
    Bytes bytes{data, size};
    if (!LooksLikePe(data, size)) return check;
    DigestLayout layout;
    std::string error;
    check.state = SignatureState::Broken;
    if (!ReadLayout(bytes, &layout, &error)) {
        check.reason = error;
        return check;
    }
    if (layout.securityEntry == 0 || (layout.tableOffset == 0 && layout.tableSize == 0)) {
        check.state = SignatureState::Unsigned;
        return check;
    }
    std::uint64_t tableEnd = static_cast<std::uint64_t>(layout.tableOffset) + layout.tableSize;
    std::uint32_t length = 0, revision = 0, type = 0;
    if (tableEnd > size) {
        check.reason = "the certificate table at offset " + std::to_string(layout.tableOffset) +
                       " reaches past the end of the file";
    } else if (tableEnd < size) {
        check.reason = std::to_string(size - tableEnd) +
                       " bytes follow the certificate table, outside what the signature covers";
    } else if (!Read32(bytes, layout.tableOffset, &length) ||
               !Read16(bytes, layout.tableOffset + 4, &revision) ||
               !Read16(bytes, layout.tableOffset + 6, &type) || length <= 8 ||
               length > layout.tableSize) {
        check.reason = "the certificate table's first entry does not fit its " +
                       std::to_string(layout.tableSize) + " bytes";
    } else if (revision != WIN_CERT_REVISION_2_0 || type != WIN_CERT_TYPE_PKCS_SIGNED_DATA) {
        char kind[64];
        std::snprintf(kind, sizeof kind, " (revision 0x%04X, type %u)", revision, type);
        check.reason =
            "the certificate table's first entry is not a PKCS#7 signature" + std::string(kind);
    } else if (std::any_of(data + std::min<std::uint64_t>(
                                      layout.tableOffset + (length + 7ull) / 8 * 8, tableEnd),
                           data + tableEnd, [](unsigned char b) { return b != 0; })) {
        check.reason = "the certificate table holds a second entry, which Windows does not check";
    } else {
        CheckPkcs7(bytes, layout, data + layout.tableOffset + 8, static_cast<long>(length - 8),
                   &check, &check.nested);
    }
    ClearCryptoErrors();
    return check;
}

namespace {

// Seconds since 1970 as "2026-04-01 09:30 UTC", by the civil calendar, the same on both
// platforms whatever their time functions.
std::string UtcText(std::int64_t seconds) {
    std::int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
    std::int64_t rest = seconds - days * 86400;
    days += 719468;
    std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    std::int64_t dayOfEra = days - era * 146097;
    std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    std::int64_t shifted = (5 * dayOfYear + 2) / 153;
    std::int64_t day = dayOfYear - (153 * shifted + 2) / 5 + 1;
    std::int64_t month = shifted < 10 ? shifted + 3 : shifted - 9;
    std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    char text[128];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld UTC",
                  static_cast<long long>(year), static_cast<long long>(month),
                  static_cast<long long>(day), static_cast<long long>(rest / 3600),
                  static_cast<long long>(rest / 60 % 60));
    return text;
}

}  // namespace

std::string ValidityText(const SignatureCheck& check) {
    if (check.validFrom == 0 && check.validUntil == 0) return "";
    return UtcText(check.validFrom) + " to " + UtcText(check.validUntil);
}

std::string ValidityFault(const SignatureCheck& check, std::int64_t now) {
    if (check.validFrom == 0 && check.validUntil == 0) return "";
    if (check.timestamped && check.timestampTime == 0)
        return "its timestamp gives no time tidepack can read, so the certificate's validity "
               "cannot be checked";
    // Windows holds the certificate to the time the timestamp gives, or without one to today.
    std::int64_t at = check.timestamped ? check.timestampTime : now;
    std::string when = check.timestamped ? "the timestamp's " + UtcText(at) : "now";
    std::string without = check.timestamped ? "" : " (the signature has no timestamp)";
    if (at > check.validUntil)
        return "the signer's certificate " + check.subject + " expired on " +
               UtcText(check.validUntil) + ", before " + when + without;
    if (at < check.validFrom)
        return "the signer's certificate " + check.subject + " is not valid until " +
               UtcText(check.validFrom) + ", after " + when + without;
    return "";
}

int ReportSignature(const std::string& path, const std::vector<unsigned char>& bytes, bool listing,
                    Report* report) {
    SignatureCheck outer = CheckSignature(bytes.empty() ? nullptr : bytes.data(), bytes.size());
    if (outer.state == SignatureState::NotProgram) return 0;
    if (outer.state == SignatureState::Unsigned) {
        report->Out(listing ? "signature      not signed\n" : "%s: not signed\n", path.c_str());
        return 0;
    }
    std::vector<const SignatureCheck*> all = {&outer};
    for (const SignatureCheck& nested : outer.nested) all.push_back(&nested);
    int broken = 0;
    for (std::size_t k = 0; k < all.size(); ++k) {
        const SignatureCheck& check = *all[k];
        std::string how = (k > 0 ? "nested; Authenticode " : "Authenticode ") + check.digest;
        if (check.timestamped) how += ", timestamp not checked";
        how += check.selfSigned ? "; self-signed certificate, chain not checked"
                                : "; certificate chain not checked";
        if (!ValidityText(check).empty()) how += "; certificate valid " + ValidityText(check);
        std::string fault =
            check.state == SignatureState::Holds
                ? ValidityFault(check, static_cast<std::int64_t>(std::time(nullptr)))
                : check.reason;
        bool holds = fault.empty();
        broken += holds ? 0 : 1;
        // The outer one keeps its plain name; nested ones are numbered from 2.
        std::string number = k > 0 ? " " + std::to_string(k + 1) : "";
        std::string name = (k > 0 ? "nested signature" : "signature") + number;
        if (listing) {
            std::string label = "signature" + number;
            label.resize(std::max<std::size_t>(label.size() + 1, 15), ' ');
            if (holds)
                report->Out("%sholds (%s)\n", label.c_str(), how.c_str());
            else
                report->Out("%sBROKEN: %s\n", label.c_str(), fault.c_str());
            if (!check.subject.empty())
                report->Out("signer         %s\nissuer         %s\n", check.subject.c_str(),
                            check.issuer.c_str());
            if (!ValidityText(check).empty())
                report->Out("validity       %s\n", ValidityText(check).c_str());
            if (!holds)
                report->Err("tidepack: %s: the %s is broken: %s\n", path.c_str(), name.c_str(),
                            fault.c_str());
        } else if (holds) {
            report->Out("%s: %s holds: signer %s; issuer %s (%s)\n", path.c_str(), name.c_str(),
                        check.subject.c_str(), check.issuer.c_str(), how.c_str());
        } else {
            report->Err("%s: %s BROKEN: %s%s%s\n", path.c_str(), name.c_str(), fault.c_str(),
                        check.subject.empty() ? "" : "; signer ", check.subject.c_str());
        }
    }
    return broken > 0 ? 1 : 0;
}
