// SPDX-License-Identifier: MIT
// What a signature check finds, shared by the check (signature.h) and each platform's
// cryptography behind it (signature_seam.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class SignatureState {
    NotProgram,  // not a PE image: nothing to say
    Unsigned,
    Holds,   // the image digest and the signer's signature both check out
    Broken,  // changed after signing, a signature that fails, or a damaged certificate table
};

struct SignatureCheck {
    SignatureState state = SignatureState::NotProgram;
    std::string reason;   // why it is broken
    std::string subject;  // the signer's certificate, when it could be read
    std::string issuer;
    std::string digest;  // the image digest's algorithm, such as SHA256
    bool selfSigned = false;
    bool timestamped = false;        // a timestamp is there; its own signature is not checked
    std::int64_t timestampTime = 0;  // when it says the signature was made; 0: not read
    // The signer certificate's validity, seconds since 1970 UTC; both 0 when it was not read.
    std::int64_t validFrom = 0, validUntil = 0;
    std::vector<unsigned char> imageDigest;  // the signed one, when it could be read
    std::vector<SignatureCheck> nested;  // those inside this one (signtool /as, -nest), in order
};
