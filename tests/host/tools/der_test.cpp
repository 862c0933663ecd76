// SPDX-License-Identifier: MIT
// The Windows build prints certificate names from their DER itself; the Linux build has
// libcrypto print them. Both must give the same text for every name a signer may carry.
#include <gtest/gtest.h>
#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <memory>
#include <string>
#include <vector>

#include "signing/der.h"

namespace {

struct Entry {
    const char* field;  // a short name or an OID
    int type;           // V_ASN1_UTF8STRING, ...
    std::string value;  // the string's content octets
    bool sameSet = false;
};

using Name = std::unique_ptr<X509_NAME, decltype(&X509_NAME_free)>;

// The name as DER, and as libcrypto reads it back from there and prints it for the signer.
bool Encode(const std::vector<Entry>& entries, std::vector<unsigned char>* der, std::string* text) {
    Name name(X509_NAME_new(), X509_NAME_free);
    for (const Entry& entry : entries) {
        std::unique_ptr<ASN1_OBJECT, decltype(&ASN1_OBJECT_free)> object(
            OBJ_txt2obj(entry.field, 0), ASN1_OBJECT_free);
        if (!object || !X509_NAME_add_entry_by_OBJ(
                           name.get(), object.get(), entry.type,
                           reinterpret_cast<const unsigned char*>(entry.value.data()),
                           static_cast<int>(entry.value.size()), -1, entry.sameSet ? -1 : 0))
            return false;
    }
    unsigned char* out = nullptr;
    int length = i2d_X509_NAME(name.get(), &out);
    if (length <= 0) return false;
    der->assign(out, out + length);
    OPENSSL_free(out);
    const unsigned char* at = der->data();
    Name read(d2i_X509_NAME(nullptr, &at, length), X509_NAME_free);
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    if (!read || X509_NAME_print_ex(bio.get(), read.get(), 0,
                                    XN_FLAG_ONELINE & ~XN_FLAG_SPC_EQ & ~ASN1_STRFLGS_ESC_MSB) < 0)
        return false;
    char* data = nullptr;
    long size = BIO_get_mem_data(bio.get(), &data);
    text->assign(data, size > 0 ? size : 0);
    return true;
}

TEST(NameText, PrintsNamesAsLibcrypto) {
    const std::string universal("\x00\x01\xF6\x00\x00\x00\x00\x2C", 8);
    const std::vector<std::vector<Entry>> names = {
        {{"C", V_ASN1_PRINTABLESTRING, "JP"},
         {"O", V_ASN1_UTF8STRING, "Maker"},
         {"CN", V_ASN1_UTF8STRING, "Name"}},
        // RFC 2253 specials: quoted, or escaped where quoting would not do.
        {{"CN", V_ASN1_UTF8STRING, "\xE5\xB1\xB1\xE7\x94\xB0, Inc. \"x\" <y>+z;"},
         {"O", V_ASN1_UTF8STRING, " lead and trail "},
         {"OU", V_ASN1_UTF8STRING, "#first # not first \\ back"},
         {"L", V_ASN1_UTF8STRING, "#"},
         {"ST", V_ASN1_UTF8STRING, " "},
         {"street", V_ASN1_UTF8STRING, std::string("ctl\x01\x1F\x7F", 6)},
         {"title", V_ASN1_UTF8STRING, ""}},
        // Other string types become UTF-8.
        {{"CN", V_ASN1_BMPSTRING, std::string("\x00\xDC\x00\x2B\x4E\x2D", 6)},
         {"OU", V_ASN1_T61STRING, "caf\xE9"},
         {"L", V_ASN1_IA5STRING, "a@b"},
         {"ST", V_ASN1_UNIVERSALSTRING, universal}},
        // Several values in one RDN; fields libcrypto has no name for, and values it dumps.
        {{"DC", V_ASN1_IA5STRING, "example"},
         {"UID", V_ASN1_UTF8STRING, "u", true},
         {"1.2.3.4.5", V_ASN1_UTF8STRING, "other"},
         {"CN", V_ASN1_BIT_STRING, "ab"},
         {"1.2.3.4.6", V_ASN1_UTF8STRING, std::string(300, 0x76)}},
        // Every field the formatter names.
        {{"2.5.4.4", V_ASN1_UTF8STRING, "a"},
         {"2.5.4.5", V_ASN1_UTF8STRING, "a"},
         {"2.5.4.13", V_ASN1_UTF8STRING, "a"},
         {"2.5.4.15", V_ASN1_UTF8STRING, "a"},
         {"2.5.4.16", V_ASN1_UTF8STRING, "a"},
         {"2.5.4.17", V_ASN1_UTF8STRING, "a"},
         {"2.5.4.18", V_ASN1_UTF8STRING, "a"},
         {"2.5.4.41", V_ASN1_UTF8STRING, "a"},
         {"2.5.4.42", V_ASN1_UTF8STRING, "a"},
         {"2.5.4.43", V_ASN1_UTF8STRING, "a"},
         {"2.5.4.44", V_ASN1_UTF8STRING, "a"},
         {"2.5.4.46", V_ASN1_UTF8STRING, "a"},
         {"2.5.4.65", V_ASN1_UTF8STRING, "a"},
         {"2.5.4.97", V_ASN1_UTF8STRING, "a"},
         {"1.2.840.113549.1.9.1", V_ASN1_IA5STRING, "a"},
         {"1.2.840.113549.1.9.2", V_ASN1_IA5STRING, "a"},
         {"1.3.6.1.4.1.311.60.2.1.1", V_ASN1_UTF8STRING, "a"},
         {"1.3.6.1.4.1.311.60.2.1.2", V_ASN1_UTF8STRING, "a"},
         {"1.3.6.1.4.1.311.60.2.1.3", V_ASN1_PRINTABLESTRING, "JP"}},
        {},
    };
    for (std::size_t k = 0; k < names.size(); ++k) {
        std::vector<unsigned char> der;
        std::string expected;
        ASSERT_TRUE(Encode(names[k], &der, &expected)) << "name " << k;
        EXPECT_EQ(NameText(der.data(), der.size()), expected) << "name " << k;
        // Cut short anywhere, it is unreadable, never read past its end.
        for (std::size_t cut = 0; cut < der.size(); ++cut) {
            std::vector<unsigned char> part(der.begin(), der.begin() + cut);
            EXPECT_EQ(NameText(part.data(), part.size()), "?") << "name " << k << " cut " << cut;
        }
    }
}

}  // namespace
