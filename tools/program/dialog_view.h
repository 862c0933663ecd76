// SPDX-License-Identifier: MIT
// What a customer sees of a patch program before it runs: the dialog's caption and texts in
// each language with the package's texts filled in as the update program fills them, the
// execution level Windows asks for and the application manifest's name.
#pragma once

#include <string>
#include <vector>

#include "package/unicode_texts.h"
#include "system/report.h"

// One language's dialog as shown.
struct DialogView {
    std::uint16_t language = 0;
    std::u16string caption, welcome, explain;
};

struct ProgramView {
    std::vector<DialogView> dialogs;  // English, then Japanese, each where the program has it
    std::string executionLevel, manifestName;
};

// The view of the program `bytes` with `title` and `versionText` as the program shows them;
// the vendor's texts of `texts` (the UTF-16 resource, data null: none) stand for the dialog's
// welcome and explanation as in the program. 0 when the bytes are no program.
int ViewProgram(const std::vector<unsigned char>& bytes, const std::u16string& title,
                const std::u16string& versionText, const UnicodeTextsImage& texts,
                ProgramView* view);

// The title and version as the program shows them: the UTF-16 resource's where it has them
// (`*unicode` set), else the package's texts decoded from `codePage`.
std::u16string ShownText(const UnicodeTextsImage& texts, UnicodeTextKind kind,
                         const std::string& decodedUtf8, bool* unicode);

// Prints the view: for list a line per item, for verify one line. Nothing for no program.
void ReportProgramView(const std::string& path, const std::vector<unsigned char>& bytes,
                       const std::u16string& title, bool titleUnicode,
                       const std::u16string& versionText, const UnicodeTextsImage& texts,
                       bool listing, Report* report);
