// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <string>

#include "base/sha256.h"

namespace {

// FIPS 180-4's examples: one block, and 56 bytes, whose length no longer fits the first block.
TEST(Sha256, PublishedExamples) {
    const struct {
        std::string data;
        const char* digest;
    } rows[] = {
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.data);
        unsigned char digest[SHA256_SIZE];
        char text[2 * SHA256_SIZE + 1];
        Sha256(row.data.data(), row.data.size(), digest);
        Sha256Text(digest, text);
        EXPECT_STREQ(row.digest, text);
    }
}

}  // namespace
