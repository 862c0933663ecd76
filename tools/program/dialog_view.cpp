// SPDX-License-Identifier: MIT
#include "program/dialog_view.h"

#include <regex>

#include "program/bounded_bytes.h"
#include "program/identity.h"
#include "program/pe_resource.h"

namespace {

constexpr std::uint32_t RT_DIALOG = 5, RT_MANIFEST = 24, DIALOG_ID = 103, MANIFEST_ID = 1;
constexpr std::uint32_t DS_SETFONT_STYLE = 0x40;

// An sz_Or_Ord field at `*at`: its text (empty for an ordinal or none), `*at` moved past it.
bool ReadSzOrOrd(const Bytes& bytes, std::uint64_t* at, std::u16string* text) {
    std::uint32_t unit;
    if (!Read16(bytes, *at, &unit)) return false;
    text->clear();
    if (unit == 0xFFFF) {
        *at += 4;
        return Inside(bytes, 0, *at);
    }
    for (; Read16(bytes, *at, &unit); *at += 2) {
        if (unit == 0) {
            *at += 2;
            return true;
        }
        text->push_back(static_cast<char16_t>(unit));
    }
    return false;
}

// The caption and the texts of IDC_WELCOME and IDC_EXPLAIN of a DIALOG template.
bool ReadDialog(const Bytes& bytes, DialogView* view) {
    std::uint32_t styleLow, styleHigh, count;
    if (!Read16(bytes, 0, &styleLow) || !Read16(bytes, 2, &styleHigh) || styleHigh == 0xFFFF ||
        !Read16(bytes, 8, &count))
        return false;
    std::uint64_t at = 18;
    std::u16string skipped;
    if (!ReadSzOrOrd(bytes, &at, &skipped) || !ReadSzOrOrd(bytes, &at, &skipped) ||
        !ReadSzOrOrd(bytes, &at, &view->caption))
        return false;
    if (styleLow & DS_SETFONT_STYLE) {
        at += 2;
        if (!ReadSzOrOrd(bytes, &at, &skipped)) return false;
    }
    for (std::uint32_t item = 0; item < count; ++item) {
        at = (at + 3) & ~std::uint64_t{3};
        std::uint32_t id, extra;
        std::u16string text;
        if (!Read16(bytes, at + 16, &id)) return false;
        at += 18;
        if (!ReadSzOrOrd(bytes, &at, &skipped) || !ReadSzOrOrd(bytes, &at, &text) ||
            !Read16(bytes, at, &extra))
            return false;
        at += 2 + extra;
        if (id == DIALOG_WELCOME) view->welcome = text;
        if (id == DIALOG_EXPLAIN) view->explain = text;
    }
    return true;
}

// The first "%s" replaced by `field`, "%%" by "%", as the program fills its templates.
std::u16string Filled(const std::u16string& text, const std::u16string& field) {
    std::u16string out;
    bool used = false;
    for (std::size_t k = 0; k < text.size(); ++k) {
        if (text[k] == u'%' && k + 1 < text.size() && text[k + 1] == u's' && !used) {
            out += field;
            used = true;
            ++k;
        } else {
            out += text[k];
            if (text[k] == u'%' && k + 1 < text.size() && text[k + 1] == u'%') ++k;
        }
    }
    return out;
}

std::u16string Copied(const UnicodeTextsImage& texts, UnicodeTextKind kind, std::uint16_t language,
                      bool* found) {
    wchar_t wide[UNICODE_TEXT_MAX_UNITS + 1];
    *found = CopyUnicodeText(texts, kind, 0, language, wide, UNICODE_TEXT_MAX_UNITS + 1);
    return *found ? std::u16string(wide, wide + std::char_traits<wchar_t>::length(wide))
                  : std::u16string();
}

std::string Attribute(const std::string& xml, const char* element, const char* attribute) {
    std::smatch match;
    std::regex pattern(std::string("<(?:[A-Za-z0-9_]+:)?") + element + "\\b[^>]*?\\b" + attribute +
                       "\\s*=\\s*[\"']([^\"']*)[\"']");
    return std::regex_search(xml, match, pattern) ? match[1].str() : "";
}

// Line breaks as the escapes a manifest writes, so that one text stays on one line.
std::string Shown(const std::u16string& text) {
    std::u16string escaped;
    for (char16_t unit : text)
        escaped += unit == u'\r' ? u"\\r" : unit == u'\n' ? u"\\n" : std::u16string(1, unit);
    return Utf8Of(escaped);
}

}  // namespace

std::u16string ShownText(const UnicodeTextsImage& texts, UnicodeTextKind kind,
                         const std::string& decodedUtf8, bool* unicode) {
    std::u16string text = Copied(texts, kind, 0, unicode);
    if (!*unicode) Utf16(decodedUtf8, &text);
    return text;
}

int ViewProgram(const std::vector<unsigned char>& bytes, const std::u16string& title,
                const std::u16string& versionText, const UnicodeTextsImage& texts,
                ProgramView* view) {
    const unsigned char* data = bytes.empty() ? nullptr : bytes.data();
    PeLayout layout;
    PeResourceTree tree;
    std::string error;
    if (!LooksLikePe(data, bytes.size()) || !ReadPeLayout(data, bytes.size(), &layout, &error) ||
        !ReadPeResourceTree(data, bytes.size(), layout, &tree, &error))
        return 0;
    for (const PeResourceType& type : tree.types)
        for (const PeResourceName& name : type.names) {
            if (type.type.named || name.name.named) continue;
            for (const PeResourceData& leaf : name.languages) {
                Bytes resource{data + leaf.offset, leaf.size};
                if (type.type.id == RT_MANIFEST && name.name.id == MANIFEST_ID) {
                    std::string xml(data + leaf.offset, data + leaf.offset + leaf.size);
                    view->executionLevel = Attribute(xml, "requestedExecutionLevel", "level");
                    view->manifestName = Attribute(xml, "assemblyIdentity", "name");
                }
                DialogView dialog;
                dialog.language = static_cast<std::uint16_t>(leaf.language.id);
                if (type.type.id != RT_DIALOG || name.name.id != DIALOG_ID ||
                    !ReadDialog(resource, &dialog))
                    continue;
                bool given;
                std::u16string welcome = Copied(texts, UTEXT_WELCOME, dialog.language, &given);
                if (given) dialog.welcome = welcome;
                std::u16string explain = Copied(texts, UTEXT_EXPLAIN, dialog.language, &given);
                if (given) dialog.explain = explain;
                dialog.caption = Filled(dialog.caption, title);
                dialog.welcome = Filled(dialog.welcome, title);
                dialog.explain = Filled(dialog.explain, versionText);
                view->dialogs.push_back(dialog);
            }
        }
    return 1;
}

void ReportProgramView(const std::string& path, const std::vector<unsigned char>& bytes,
                       const std::u16string& title, bool titleUnicode,
                       const std::u16string& versionText, const UnicodeTextsImage& texts,
                       bool listing, Report* report) {
    ProgramView view;
    if (!ViewProgram(bytes, title, versionText, texts, &view)) return;
    std::vector<std::pair<std::string, std::string>> items = {
        {"title", Shown(title) + (titleUnicode ? " (UTF-16: the same on every code page)"
                                               : " (as the package's code page reads it)")},
        {"execution level", view.executionLevel.empty() ? "none" : view.executionLevel},
        {"manifest name", view.manifestName.empty() ? "none" : view.manifestName}};
    for (const DialogView& dialog : view.dialogs) {
        std::string language = dialog.language == DIALOG_ENGLISH ? "English"
                               : dialog.language == DIALOG_JAPANESE
                                   ? "Japanese"
                                   : std::to_string(dialog.language);
        items.emplace_back(language + " caption", Shown(dialog.caption));
        items.emplace_back(language + " welcome", Shown(dialog.welcome));
        items.emplace_back(language + " explanation", Shown(dialog.explain));
    }
    if (listing) {
        for (const auto& [key, value] : items)
            report->Out("dialog         %s: %s\n", key.c_str(), value.c_str());
        return;
    }
    std::string line;
    for (const auto& [key, value] : items)
        line += (line.empty() ? "" : "; ") + key + " '" + value + "'";
    report->Out("%s: dialog: %s\n", path.c_str(), line.c_str());
}
