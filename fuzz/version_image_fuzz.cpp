// SPDX-License-Identifier: MIT
// The packaged copy's version read from its bytes, as where no temporary file of it could be
// made: any bytes, most of them programs. No read may leave the image, and a version text that
// is read must fit 63 characters.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/text.h"
#include "rules/version_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 0xFFFFFFFFu) return 0;
    // A copy of exactly `size` bytes, so that ASan sees every read past the end.
    std::vector<unsigned char> image(data, data + size);
    char text[VERSION_TEXT_SIZE];
    for (std::uint32_t language : {0x0409u, 0x0411u}) {
        std::memset(text, 0xCD, sizeof text);
        if (ReadImageProductVersion(image.data(), static_cast<std::uint32_t>(size), language,
                                    text) &&
            TextLength(text, sizeof text) >= sizeof text)
            std::abort();
    }
    return 0;
}
