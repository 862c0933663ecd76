// SPDX-License-Identifier: MIT
// SHA-256 (FIPS 180-4), for the log's fingerprint of the package a run applied: CryptoAPI has it
// on XP SP3 only under a provider name of its own, so the program carries its own.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t SHA256_SIZE = 32;

// The digest of `size` bytes at `data` into `digest`.
void Sha256(const void* data, std::size_t size, unsigned char digest[SHA256_SIZE]);

// The digest as 64 lowercase hexadecimal digits and a terminator into `text` (65 bytes).
void Sha256Text(const unsigned char digest[SHA256_SIZE], char* text);
