// SPDX-License-Identifier: MIT
// The vendor's identity on a patch program: the manifest's [program] table, written into the
// copy's version block (VS_VERSIONINFO) and icon group, and read back by list and verify.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "system/report.h"

// The most an .ico file may be: a 256x256 PNG image and the usual sizes take some 100 KB.
constexpr std::size_t ICON_FILE_LIMIT = 1 << 20;
// The most UTF-16 code units one text of the version block may have, so that every text
// given fits the block's 16-bit lengths whatever the stub holds beside them.
constexpr std::size_t VERSION_TEXT_LIMIT = 1024;

// The update program's dialog: its languages and the controls whose texts a vendor gives.
constexpr std::uint16_t DIALOG_ENGLISH = 1033, DIALOG_JAPANESE = 1041;
constexpr std::uint16_t DIALOG_WELCOME = 1002, DIALOG_EXPLAIN = 1003;
// The most bytes a dialog text may have filled in, with its NUL, as the design's buffers held.
constexpr std::size_t DIALOG_TEXT_BYTES = 512;

// A text of the dialog's template in one of its languages, UTF-8, with its one "%s".
struct DialogText {
    std::uint16_t language;  // 1033 or 1041
    std::uint16_t control;   // IDC_WELCOME or IDC_EXPLAIN
    std::string text;
};

struct ProgramIdentity {
    // Texts of the version block by their keys there ("CompanyName"), values in UTF-8.
    std::vector<std::pair<std::string, std::string>> strings;
    bool haveFileVersion = false, haveProductVersion = false;  // the fixed part's numbers
    std::uint16_t fileVersion[4] = {}, productVersion[4] = {};
    std::vector<unsigned char> icon;  // an .ico file; empty: the stub's icon stays
    std::string signDescription, signUrl;
    std::vector<DialogText> dialogTexts;  // in place of the stub's
    std::string
        manifestName;  // the application manifest's assemblyIdentity name; empty: the stub's
    bool ChangesProgram() const {
        return !strings.empty() || haveFileVersion || !icon.empty() || !dialogTexts.empty() ||
               !manifestName.empty();
    }
};

// The assemblyIdentity name for a vendor's identity: "Company.Product" of the ASCII letters,
// digits, '-' and '_' in companyName and productName, else originalFilename without its
// extension, else "Update"; empty when none of the three is given.
std::string ManifestNameFor(const std::string& companyName, const std::string& productName,
                            const std::string& originalFilename);

// A dialog template (DIALOG, not DIALOGEX) with the texts of the controls `texts` names (of
// its `language`) replaced, every other byte kept. Returns 1; 0 with the reason in `error`.
int RewriteDialogTemplate(const unsigned char* data, std::size_t size, std::uint16_t language,
                          const std::vector<DialogText>& texts, std::vector<unsigned char>* out,
                          std::string* error);

struct IconImage {
    unsigned width, height, colorCount, planes, bitCount;
    std::size_t offset, size;  // in the .ico file
};

// The images of an .ico file, each checked to be a bitmap or PNG image of at most 256x256
// inside the file. Returns 1; 0 with the reason in `error`.
int ReadIcon(const std::vector<unsigned char>& ico, std::vector<IconImage>* images,
             std::string* error);

// "a.b.c.d": four numbers of at most 65535, or with `exactlyFour` false one to four of them,
// the rest 0. Returns 1; 0 when it is not that.
int ParseVersion(const std::string& text, bool exactlyFour, std::uint16_t numbers[4]);

// UTF-8 as UTF-16 code units; 0 when it is not UTF-8.
int Utf16(const std::string& text, std::u16string* units);
// UTF-16 code units as UTF-8, a lone surrogate as U+FFFD.
std::string Utf8Of(const std::u16string& units);

// One VS_VERSIONINFO with the identity's numbers in its fixed part and its texts in every
// string table (added where a table lacks one). Returns 1; 0 with the reason in `error`.
int RewriteVersionBlock(const unsigned char* data, std::size_t size,
                        const ProgramIdentity& identity, std::vector<unsigned char>* out,
                        std::string* error);

// The RT_GROUP_ICON directory for `images`, stored as RT_ICON `ids`.
std::vector<unsigned char> IconGroup(const std::vector<unsigned char>& ico,
                                     const std::vector<IconImage>& images,
                                     const std::vector<std::uint16_t>& ids);

// The ids of the RT_ICON images a group directory names.
std::vector<std::uint16_t> IconGroupIds(const unsigned char* data, std::size_t size);

// The identity a program shows (its version block and icon), for list (a line per item) or
// verify (one line). Nothing for a file that is no program.
void ReportIdentity(const std::string& path, const std::vector<unsigned char>& bytes, bool listing,
                    Report* report);

// Where a program keeps the notices of what it is made of (resource NOTICES 1, which every
// build of the update program carries): 1 with the data's place; 0 when the bytes are no PE
// image or carry none.
int FindNotices(const std::vector<unsigned char>& bytes, std::uint64_t* offset,
                std::uint32_t* size);
