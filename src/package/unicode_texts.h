// SPDX-License-Identifier: MIT
// The package's texts as UTF-16, beside it: a resource of their own (RCDATA 3, language 1033),
// so that a Japanese title reads as Japanese on a Windows of another code page. The package
// keeps its code-page texts; a program that carries no such resource shows those.
//
//   offset 0     UnicodeTextsHeader (16 bytes): magic "TWU1", formatVersion 1, textCount,
//                reserved 0
//   16           textCount UnicodeTextRecord of 16 bytes
//   offset of    each text, `length` UTF-16LE code units, no NUL among them
//   each record
//
// Integers are little-endian. The reader is given the image's length and never reads outside
// it: a record or text past the end, an odd offset, a text longer than UNICODE_TEXT_MAX_UNITS
// or holding a NUL gives 0 instead of the text.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::uint32_t UNICODE_TEXTS_RESOURCE_ID = 3;
constexpr std::uint32_t UNICODE_TEXTS_MAGIC = 0x31555754;  // "TWU1"
constexpr std::uint32_t UNICODE_TEXTS_FORMAT_VERSION = 1;
constexpr std::uint32_t UNICODE_TEXTS_MAX_COUNT = 64;
// The dialog's buffers hold 512 characters; a [program] text may have 1,024.
constexpr std::uint32_t UNICODE_TEXT_MAX_UNITS = 1024;

// What a text is. The running application's message carries the record's index; the dialog's
// texts their language (1033 or 1041), the others language 0.
enum UnicodeTextKind : std::uint16_t {
    UTEXT_TITLE = 1,
    UTEXT_VERSION = 2,
    UTEXT_MESSAGE = 3,
    UTEXT_WELCOME = 4,
    UTEXT_EXPLAIN = 5,
};

#pragma pack(push, 1)

struct UnicodeTextsHeader {
    std::uint32_t magic;
    std::uint32_t formatVersion;
    std::uint32_t textCount;
    std::uint32_t reserved;
};

struct UnicodeTextRecord {
    std::uint16_t kind;
    std::uint16_t index;     // UTEXT_MESSAGE: the running application's record, else 0
    std::uint16_t language;  // UTEXT_WELCOME, UTEXT_EXPLAIN: 1033 or 1041, else 0
    std::uint16_t reserved;
    std::uint32_t offset;  // from the image's start, even
    std::uint32_t length;  // in code units, without a terminator
};

#pragma pack(pop)

constexpr std::uint32_t UNICODE_TEXTS_HEADER_SIZE = 16;
constexpr std::uint32_t UNICODE_TEXT_RECORD_SIZE = 16;
static_assert(sizeof(UnicodeTextsHeader) == UNICODE_TEXTS_HEADER_SIZE);
static_assert(sizeof(UnicodeTextRecord) == UNICODE_TEXT_RECORD_SIZE);
static_assert(offsetof(UnicodeTextRecord, offset) == 8);

// The resource's bytes and their number; data null when the program carries none.
struct UnicodeTextsImage {
    const unsigned char* data;
    std::uint32_t size;
};

// The header in place: 0 when the image is shorter than a header, its magic or format version
// is another, or its count is above UNICODE_TEXTS_MAX_COUNT or runs past the image.
int GetUnicodeTextsHeader(const UnicodeTextsImage& image, const UnicodeTextsHeader** header);

// Record `index` (a copy: the image need not be aligned) in `record`: 1 when it is inside the
// header's count and its text is readable (even offset, inside the image, at most
// UNICODE_TEXT_MAX_UNITS units, no NUL); 0 otherwise.
int GetUnicodeTextRecord(const UnicodeTextsImage& image, std::uint32_t index,
                         UnicodeTextRecord* record);

// Copies the text of the first record of `kind`, `index` and `language` into `dest` (`capacity`
// characters, each a UTF-16 code unit), with its NUL. Returns 1; 0 with `dest` untouched when
// the image holds no such record, its text is not readable or does not fit with its NUL.
int CopyUnicodeText(const UnicodeTextsImage& image, UnicodeTextKind kind, std::uint16_t index,
                    std::uint16_t language, wchar_t* dest, std::size_t capacity);

// Windows only (unicode_texts_win32.cpp): CopyUnicodeText over the resource of `module` (an
// HMODULE). 0 when the module carries none, or as CopyUnicodeText.
int LoadUnicodeText(void* module, UnicodeTextKind kind, std::uint16_t index, std::uint16_t language,
                    wchar_t* dest, std::size_t capacity);
