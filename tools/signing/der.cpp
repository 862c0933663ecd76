// SPDX-License-Identifier: MIT
#include "signing/der.h"

#include <cstdint>
#include <cstdio>

namespace {

constexpr unsigned char DER_OCTET_STRING = 0x04;
constexpr unsigned char DER_OID = 0x06;
constexpr unsigned char DER_SEQUENCE = 0x30;
constexpr unsigned char DER_SET = 0x31;

// The short names libcrypto gives the attributes a certificate name uses.
struct OidName {
    const char* oid;
    const char* name;
};
constexpr OidName NAME_ATTRIBUTES[] = {
    {"2.5.4.3", "CN"},
    {"2.5.4.4", "SN"},
    {"2.5.4.5", "serialNumber"},
    {"2.5.4.6", "C"},
    {"2.5.4.7", "L"},
    {"2.5.4.8", "ST"},
    {"2.5.4.9", "street"},
    {"2.5.4.10", "O"},
    {"2.5.4.11", "OU"},
    {"2.5.4.12", "title"},
    {"2.5.4.13", "description"},
    {"2.5.4.15", "businessCategory"},
    {"2.5.4.16", "postalAddress"},
    {"2.5.4.17", "postalCode"},
    {"2.5.4.18", "postOfficeBox"},
    {"2.5.4.41", "name"},
    {"2.5.4.42", "GN"},
    {"2.5.4.43", "initials"},
    {"2.5.4.44", "generationQualifier"},
    {"2.5.4.46", "dnQualifier"},
    {"2.5.4.65", "pseudonym"},
    {"2.5.4.97", "organizationIdentifier"},
    {"1.2.840.113549.1.9.1", "emailAddress"},
    {"1.2.840.113549.1.9.2", "unstructuredName"},
    {"0.9.2342.19200300.100.1.1", "UID"},
    {"0.9.2342.19200300.100.1.25", "DC"},
    {"1.3.6.1.4.1.311.60.2.1.1", "jurisdictionL"},
    {"1.3.6.1.4.1.311.60.2.1.2", "jurisdictionST"},
    {"1.3.6.1.4.1.311.60.2.1.3", "jurisdictionC"},
};

constexpr OidName DIGESTS[] = {
    {"1.2.840.113549.2.5", "MD5"},        {"1.3.14.3.2.26", "SHA1"},
    {"2.16.840.1.101.3.4.2.1", "SHA256"}, {"2.16.840.1.101.3.4.2.2", "SHA384"},
    {"2.16.840.1.101.3.4.2.3", "SHA512"},
};

// Character widths by universal tag as libcrypto prints strings: 0 UTF-8, 1 Latin-1, 2 BMP,
// 4 universal; -1 dumped as hex DER.
int Width(unsigned char first) {
    switch (first) {
        case 12:
            return 0;
        case 18:
        case 19:
        case 20:
        case 22:
        case 23:
        case 24:
        case 26:
            return 1;
        case 28:
            return 4;
        case 30:
            return 2;
        default:
            return -1;
    }
}

// libcrypto's escape classes for the flags tidepack prints with.
constexpr unsigned ESC_2253 = 1, ESC_CTRL = 2, ESC_QUOTE = 8, FIRST_ESC = 0x20, LAST_ESC = 0x40;

unsigned CharType(unsigned char c) {
    if (c < 32 || c == 127) return ESC_CTRL;
    switch (c) {
        case ' ':
            return ESC_QUOTE | FIRST_ESC | LAST_ESC;
        case '#':
            return ESC_QUOTE | FIRST_ESC;
        case ',':
        case '+':
        case ';':
        case '<':
        case '>':
            return ESC_2253 | ESC_QUOTE;
        case '"':
        case '\\':
            return ESC_2253;
        default:
            return 0;
    }
}

// One byte of a value; `where` is FIRST_ESC, LAST_ESC or 0.
void EscapeByte(unsigned char c, unsigned where, bool* quotes, std::string* out) {
    unsigned type = c > 0x7f ? 0 : CharType(c) & (ESC_2253 | ESC_CTRL | ESC_QUOTE | where);
    if (type & (ESC_2253 | FIRST_ESC | LAST_ESC)) {
        if (type & ESC_QUOTE) {
            *quotes = true;
        } else {
            *out += '\\';
        }
        *out += static_cast<char>(c);
    } else if (type & ESC_CTRL) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "\\%02X", c);
        *out += hex;
    } else {
        *out += static_cast<char>(c);
    }
}

void PutUtf8(std::uint32_t c, std::string* out) {
    if (c < 0x80) {
        *out += static_cast<char>(c);
    } else if (c < 0x800) {
        *out += static_cast<char>(0xC0 | c >> 6);
        *out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *out += static_cast<char>(0xE0 | c >> 12);
        *out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        *out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        *out += static_cast<char>(0xF0 | c >> 18);
        *out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        *out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        *out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void PutHex(const unsigned char* data, std::size_t length, std::string* out) {
    static const char digits[] = "0123456789ABCDEF";
    for (std::size_t k = 0; k < length; ++k) {
        *out += digits[data[k] >> 4];
        *out += digits[data[k] & 15];
    }
}

// A value as libcrypto prints it: strings as UTF-8, escaped, quoted when a special character
// would otherwise need a backslash; anything else as '#' and its DER in hex.
bool ValueText(const unsigned char* at, const DerItem& value, std::string* out) {
    int width = Width(value.first);
    if (width < 0) {
        *out += '#';
        if (value.first == DER_SEQUENCE || value.first == DER_SET || (value.first & 0x1f) == 0x1f) {
            PutHex(at, static_cast<std::size_t>(value.end - at), out);
            return true;
        }
        // libcrypto writes the value out again: its tag, the shortest length, the content.
        unsigned char header[6] = {value.first};
        std::size_t used = 1, length = value.length;
        if (length < 0x80) {
            header[used++] = static_cast<unsigned char>(length);
        } else {
            int bytes = length > 0xFFFFFF ? 4 : length > 0xFFFF ? 3 : length > 0xFF ? 2 : 1;
            header[used++] = static_cast<unsigned char>(0x80 | bytes);
            for (int k = bytes - 1; k >= 0; --k)
                header[used++] = static_cast<unsigned char>(length >> (8 * k));
        }
        PutHex(header, used, out);
        PutHex(value.content, value.length, out);
        return true;
    }
    if (width == 0) width = 1;  // UTF-8 is kept byte by byte
    if (value.length % width != 0) return false;
    // The characters, each as the UTF-8 bytes libcrypto escapes one by one.
    std::vector<std::string> characters;
    for (std::size_t k = 0; k < value.length; k += width) {
        std::uint32_t c = 0;
        for (int b = 0; b < width; ++b) c = c << 8 | value.content[k + b];
        std::string bytes;
        if (Width(value.first) == 0) {
            bytes += static_cast<char>(c);
        } else if (!(c >= 0xD800 && c <= 0xDFFF) && c < 0x110000) {
            PutUtf8(c, &bytes);  // libcrypto drops what UTF-8 cannot hold
        }
        characters.push_back(bytes);
    }
    bool quotes = false;
    std::string text;
    for (std::size_t k = 0; k < characters.size(); ++k) {
        unsigned where = k + 1 == characters.size() ? LAST_ESC : k == 0 ? FIRST_ESC : 0;
        for (char c : characters[k])
            EscapeByte(static_cast<unsigned char>(c), where, &quotes, &text);
    }
    *out += quotes ? "\"" + text + "\"" : text;
    return true;
}

}  // namespace

bool ReadDer(const unsigned char* at, const unsigned char* limit, DerItem* item) {
    if (!at || at >= limit) return false;
    const unsigned char* p = at;
    item->first = *p++;
    if ((item->first & 0x1f) == 0x1f) {
        // A tag number of 31 or more: skipped over, never used.
        int more = 0;
        while (p < limit && (*p & 0x80) && more < 4) ++p, ++more;
        if (p >= limit || more == 4) return false;
        ++p;
    }
    if (p >= limit) return false;
    std::size_t length = *p++;
    if (length == 0x80 || length > 0x84) return false;  // indefinite, or beyond 4 GB
    if (length > 0x80) {
        std::size_t bytes = length - 0x80;
        if (static_cast<std::size_t>(limit - p) < bytes) return false;
        length = 0;
        for (std::size_t k = 0; k < bytes; ++k) length = length << 8 | *p++;
    }
    if (static_cast<std::size_t>(limit - p) < length) return false;
    item->content = p;
    item->length = length;
    item->end = p + length;
    return true;
}

std::string OidText(const unsigned char* content, std::size_t length) {
    std::string text;
    std::uint64_t value = 0;
    bool first = true;
    for (std::size_t k = 0; k < length; ++k) {
        if (value == 0 && content[k] == 0x80) return "";  // not the shortest form
        if (value >> 57) return "";
        value = value << 7 | (content[k] & 0x7f);
        if (content[k] & 0x80) continue;
        if (first) {
            unsigned arc = value < 40 ? 0 : value < 80 ? 1 : 2;
            text = std::to_string(arc) + "." + std::to_string(value - 40 * arc);
            first = false;
        } else {
            text += "." + std::to_string(value);
        }
        value = 0;
    }
    if (length == 0 || (content[length - 1] & 0x80)) return "";
    return text;
}

std::string NameText(const unsigned char* der, std::size_t size) {
    DerItem name, set, entry, type, value;
    if (!ReadDer(der, der + size, &name) || name.first != DER_SEQUENCE) return "?";
    std::string text;
    bool any = false;
    for (const unsigned char* at = name.content; at < name.end; at = set.end) {
        if (!ReadDer(at, name.end, &set) || set.first != DER_SET) return "?";
        bool inSet = false;
        for (const unsigned char* in = set.content; in < set.end; in = entry.end) {
            if (!ReadDer(in, set.end, &entry) || entry.first != DER_SEQUENCE ||
                !ReadDer(entry.content, entry.end, &type) || type.first != DER_OID ||
                !ReadDer(type.end, entry.end, &value) || value.end != entry.end)
                return "?";
            if (any) text += inSet ? " + " : ", ";
            any = inSet = true;
            std::string oid = OidText(type.content, type.length);
            if (oid.empty()) return "?";
            std::string field = oid.substr(0, 79);  // libcrypto's buffer holds 79 characters
            for (const OidName& known : NAME_ATTRIBUTES)
                if (oid == known.oid) field = known.name;
            text += field + "=";
            if (!ValueText(type.end, value, &text)) return "?";
        }
    }
    return text;
}

std::string DigestName(const std::string& oid) {
    for (const OidName& known : DIGESTS)
        if (oid == known.oid) return known.name;
    return "";
}

bool ReadSpcIndirectData(const unsigned char* der, std::size_t size, std::string* oid,
                         std::vector<unsigned char>* digest, const unsigned char** signedContent,
                         std::size_t* signedLength) {
    // SEQUENCE { SpcAttributeTypeAndOptionalValue, DigestInfo }; what follows DigestInfo is
    // passed over, as libcrypto passes it.
    DerItem outer, data, digestInfo, algorithm, object, value;
    if (!ReadDer(der, der + size, &outer) || outer.first != DER_SEQUENCE ||
        !ReadDer(outer.content, outer.end, &data) || !ReadDer(data.end, outer.end, &digestInfo) ||
        digestInfo.first != DER_SEQUENCE ||
        !ReadDer(digestInfo.content, digestInfo.end, &algorithm) ||
        algorithm.first != DER_SEQUENCE || !ReadDer(algorithm.content, algorithm.end, &object) ||
        object.first != DER_OID || !ReadDer(algorithm.end, digestInfo.end, &value) ||
        value.first != DER_OCTET_STRING || value.end != digestInfo.end)
        return false;
    // The algorithm's parameters: none, or one value.
    DerItem parameters;
    if (object.end != algorithm.end &&
        (!ReadDer(object.end, algorithm.end, &parameters) || parameters.end != algorithm.end))
        return false;
    *oid = OidText(object.content, object.length);
    if (oid->empty()) return false;
    digest->assign(value.content, value.end);
    *signedContent = outer.content;
    *signedLength = outer.length;
    return true;
}

namespace {

// The items inside a constructed item, in order; empty when one does not fit.
std::vector<DerItem> Children(const DerItem& parent) {
    std::vector<DerItem> children;
    const unsigned char* limit = parent.content + parent.length;
    for (const unsigned char* at = parent.content; at < limit;) {
        DerItem child;
        if (!ReadDer(at, limit, &child)) return {};
        children.push_back(child);
        at = child.end;
    }
    return children;
}

// A UTCTime (tag 23) or GeneralizedTime (24) in whole seconds, as certificates and timestamps
// write them: digits to the seconds (a UTCTime may stop at the minutes), fractions dropped, "Z".
bool DerTime(const DerItem& item, std::int64_t* seconds) {
    std::string text(reinterpret_cast<const char*>(item.content), item.length);
    std::size_t yearDigits = item.first == 23 ? 2 : item.first == 24 ? 4 : 0;
    std::size_t digits = text.find_first_not_of("0123456789");
    if (!yearDigits || digits == std::string::npos || text.back() != 'Z' ||
        (digits != yearDigits + 10 && !(yearDigits == 2 && digits == 10)))
        return false;
    auto number = [&](std::size_t at, std::size_t width) {
        return at + width <= digits ? std::stoll(text.substr(at, width)) : 0;
    };
    std::int64_t year = number(0, yearDigits);
    if (yearDigits == 2) year += year < 50 ? 2000 : 1900;
    std::int64_t month = number(yearDigits, 2), day = number(yearDigits + 2, 2);
    if (month < 1 || month > 12 || day < 1 || day > 31) return false;
    // Days since 1970 by the civil calendar.
    std::int64_t y = year - (month <= 2 ? 1 : 0), era = (y >= 0 ? y : y - 399) / 400;
    std::int64_t yearOfEra = y - era * 400;
    std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    std::int64_t days =
        era * 146097 + yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear - 719468;
    *seconds = days * 86400 + number(yearDigits + 4, 2) * 3600 + number(yearDigits + 6, 2) * 60 +
               number(yearDigits + 8, 2);
    return true;
}

}  // namespace

bool TimestampTime(const std::string& oid, const unsigned char* der, std::size_t size,
                   std::int64_t* seconds) {
    DerItem top;
    if (!der || !ReadDer(der, der + size, &top) || top.first != DER_SEQUENCE) return false;
    std::vector<DerItem> parts = Children(top);
    if (oid == "1.2.840.113549.1.9.6") {
        // SignerInfo: version, issuer and serial, digest algorithm, [0] signed attributes.
        if (parts.size() < 4 || parts[3].first != 0xA0) return false;
        for (const DerItem& attribute : Children(parts[3])) {
            std::vector<DerItem> pair = Children(attribute);
            if (pair.size() != 2 || pair[0].first != DER_OID ||
                OidText(pair[0].content, pair[0].length) != "1.2.840.113549.1.9.5")
                continue;
            std::vector<DerItem> values = Children(pair[1]);
            return !values.empty() && DerTime(values[0], seconds);
        }
        return false;
    }
    if (oid != "1.3.6.1.4.1.311.3.3.1") return false;
    // ContentInfo { signedData, [0] SignedData { version, digest algorithms, encapsulated
    // content { TSTInfo's type, [0] OCTET STRING holding TSTInfo }, ... } }.
    if (parts.size() != 2 || parts[1].first != 0xA0) return false;
    std::vector<DerItem> signedData = Children(parts[1]);
    if (signedData.size() != 1) return false;
    std::vector<DerItem> fields = Children(signedData[0]);
    if (fields.size() < 3) return false;
    std::vector<DerItem> content = Children(fields[2]);
    if (content.size() != 2 || content[0].first != DER_OID ||
        OidText(content[0].content, content[0].length) != "1.2.840.113549.1.9.16.1.4" ||
        content[1].first != 0xA0)
        return false;
    std::vector<DerItem> octets = Children(content[1]);
    DerItem info;
    if (octets.size() != 1 || octets[0].first != DER_OCTET_STRING ||
        !ReadDer(octets[0].content, octets[0].content + octets[0].length, &info))
        return false;
    // TSTInfo: version, policy, message imprint, serial number, genTime.
    std::vector<DerItem> tst = Children(info);
    return tst.size() >= 5 && DerTime(tst[4], seconds);
}
