// SPDX-License-Identifier: MIT
#include "authoring/manifest.h"

#define TOML_EXCEPTIONS 0
#include <toml++/toml.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "base/text.h"
#include "authoring/code_page.h"
#include "authoring/package_file.h"
#include "extras/extras.h"
#include "extras/extras_run.h"
#include "rules/targets.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t SHORTCUT_TEXT_MAX = SHORTCUT_TEXT_SIZE - 1;  // 4095 bytes and a NUL
// Above this a file may find no block of memory that large in a 32-bit update program.
constexpr std::size_t LARGE_ENTRY = std::size_t{1} << 30;

const char* const HEADER_KEYS[] = {"codePage",    "title",          "versionText",
                                   "registryKey", "valueName",      "defaultFolder",
                                   "subFolder",   "executionLevel", "createFolders"};

// Edits (insert, delete, change, swap two neighbours) from `a` to `b`, letters in either case
// alike.
std::size_t EditDistance(const std::string& a, const std::string& b) {
    auto lower = [](char c) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    };
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i)
        for (std::size_t j = 1; j <= b.size(); ++j) {
            std::size_t change = lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change});
            if (i > 1 && j > 1 && lower(a[i - 1]) == lower(b[j - 2]) &&
                lower(a[i - 2]) == lower(b[j - 1]))
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

struct Reader {
    std::string path;
    int codePage = 0;
    ManifestResult* result;
    std::vector<std::string> lines;  // the file's lines, to see how a string was quoted
    // Keys already explained by an unknown key's fault (a misspelling, a header key that TOML
    // put into a table), so that they are not also reported missing.
    std::set<std::pair<const toml::table*, std::string>> explained;

    std::string Where(const toml::node* node) const {
        if (!node || node->source().begin.line == 0) return path;
        return path + ":" + std::to_string(node->source().begin.line) + ":" +
               std::to_string(node->source().begin.column);
    }

    // Whether the string at `node` was written in double quotes, where a backslash begins an
    // escape. toml++ counts columns in characters.
    bool DoubleQuoted(const toml::node* node) const {
        if (!node || !node->is_string()) return false;
        std::size_t line = node->source().begin.line, column = node->source().begin.column;
        if (line == 0 || line > lines.size() || column == 0) return false;
        const std::string& text = lines[line - 1];
        std::size_t at = 0;
        for (std::size_t k = 1; k < column && at < text.size(); ++k) do
                ++at;
            while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80);
        return at < text.size() && text[at] == '"';
    }

    // `lineBreaks`: the text may hold line breaks on purpose (a dialog text), so only another
    // control character hints at a path's backslash taken for an escape.
    void Fault(const toml::node* node, const std::string& what, bool lineBreaks = false) {
        std::string hint;
        if (DoubleQuoted(node)) {
            const std::string& text = node->as_string()->get();
            for (unsigned char c : text)
                if (c < 0x20 && !(lineBreaks && (c == '\r' || c == '\n')))
                    hint =
                        " (in double quotes a backslash begins an escape: use single "
                        "quotes for Windows paths)";
        }
        result->faults.push_back(Where(node) + ": " + what + hint);
    }

    // A text the program shows, as UTF-16 beside the package; `text` is UTF-8 already checked.
    void AddUnicodeText(UnicodeTextKind kind, std::uint16_t index, std::uint16_t language,
                        const std::string& text) {
        WriterUnicodeText unicode{kind, index, language, {}};
        Utf16(text, &unicode.text);
        result->unicodeTexts.push_back(std::move(unicode));
    }

    void Warn(const toml::node* node, const std::string& what) {
        result->warnings.push_back(Where(node) + ": warning: " + what);
    }

    // Every key of `table` must be one of `known`; a misspelt key would otherwise be lost.
    // `table` is `root` itself, or one of its [[`array`]] tables.
    void CheckKeys(const toml::table& table, std::initializer_list<const char*> known,
                   const std::string& where, const toml::table& root,
                   const std::string& tableLine) {
        for (const auto& [key, node] : table) {
            std::string name(key.str());
            const char* nearest = nullptr;
            std::size_t best = 3;
            for (const char* candidate : known) {
                std::size_t distance = EditDistance(name, candidate);
                if (distance < best && distance * 3 <= std::strlen(candidate)) {
                    best = distance;
                    nearest = candidate;
                }
            }
            if (best == 0 && name == nearest) continue;
            bool header = false;
            for (const char* candidate : HEADER_KEYS) header = header || name == candidate;
            if (&table != &root && header) {
                Fault(&node, where + "'" + name +
                                 "' belongs to the header, but TOML puts every key after a " +
                                 tableLine +
                                 " line into that table: move it above the first line that "
                                 "begins with '['");
                explained.insert({&root, name});
            } else if (nearest) {
                Fault(&node, where + "unknown key '" + name + "'; did you mean '" + nearest + "'?");
                explained.insert({&table, nearest});
            } else {
                Fault(&node, where + "unknown key '" + name + "'");
            }
        }
    }

    // A text key. Missing and required: a fault at the table. Returns the node, or null.
    const toml::node* String(const toml::table& table, const char* key, bool required,
                             const std::string& where, std::string* text) {
        const toml::node* node = table.get(key);
        if (!node) {
            if (required && !explained.count({&table, key}))
                Fault(&table, where + "missing key '" + key + "'");
            return nullptr;
        }
        if (!node->is_string()) {
            Fault(node, where + key + " must be a text");
            return nullptr;
        }
        *text = node->as_string()->get();
        return node;
    }

    bool Bool(const toml::table& table, const char* key, const std::string& where) {
        const toml::node* node = table.get(key);
        if (!node) return false;
        if (!node->is_boolean()) {
            Fault(node, where + key + " must be true or false");
            return false;
        }
        return node->as_boolean()->get();
    }

    // Converts a text to the code page and checks it fits `width` bytes with its NUL.
    bool Encode(const toml::node* node, const std::string& text, std::size_t width,
                const std::string& name, std::string* bytes) {
        std::string error;
        if (text.find('\0') != std::string::npos) {
            Fault(node, name + " holds a NUL character");
            return false;
        }
        // A text that does not go in leaves nothing behind: a part of it would make faults of
        // its own further on (the "C:" before a yen sign is a drive's root).
        if (!EncodeText(text, codePage, bytes, &error)) {
            bytes->clear();
            Fault(node, name + ": " + error);
            return false;
        }
        if (bytes->size() >= width) {
            Fault(node, name + " is " + std::to_string(bytes->size()) + " bytes in code page " +
                            std::to_string(codePage) + "; its field holds at most " +
                            std::to_string(width - 1));
            bytes->clear();
            return false;
        }
        return true;
    }

    // A text the program shows or looks up as it stands: no control characters.
    bool Plain(const toml::node* node, const std::string& text, const std::string& name) {
        for (unsigned char c : text)
            if (c < 0x20 || c == 0x7F) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02X", c);
                Fault(node, name + " holds the control character " + hex);
                return false;
            }
        return true;
    }

    // A path or name field, converted: Windows must be able to hold it where it goes.
    bool Name(const toml::node* node, const std::string& bytes, NameKind kind,
              const std::string& name) {
        std::string fault = NameFault(bytes, codePage, kind);
        if (fault.empty()) return true;
        Fault(node, name + " '" + DecodeText(bytes, codePage) + "' " + fault);
        return false;
    }

    // A literal string keeps "\n" as two characters, which the update program shows as they are.
    void WarnOfLiteralEscape(const toml::node* node, const std::string& text,
                             const std::string& name) {
        if (DoubleQuoted(node)) return;
        for (const char* escape : {"\\n", "\\r"})
            if (text.find(escape) != std::string::npos) {
                Warn(node, name + " holds '" + escape +
                               "' in single quotes, where TOML keeps the backslash and the "
                               "update program shows it as written: for a line break write the "
                               "text in double quotes");
                return;
            }
    }

    const toml::array* Tables(const toml::table& root, const char* key) {
        const toml::node* node = root.get(key);
        if (!node) return nullptr;
        const toml::array* array = node->as_array();
        if (!array || !array->is_array_of_tables()) {
            Fault(node, std::string(key) + " must be written as [[" + key + "]] tables");
            return nullptr;
        }
        return array;
    }
};

// Where `source` really is when it is a symbolic link leading out of the manifest's folder
// `base` (or, for a source beside it such as diff writes, '../new/...', out of that release
// folder); else "".
std::string LinkOutside(const fs::path& base, const std::string& source) {
    std::error_code code;
    fs::path path = base / fs::u8path(source);
    if (!fs::is_symlink(path, code)) return "";
    fs::path folder = base;
    for (const fs::path& part : fs::u8path(source).lexically_normal()) {
        folder /= part;
        if (part != "..") break;
    }
    if (folder == base / fs::u8path(source).lexically_normal()) folder = base;
    fs::path real = fs::weakly_canonical(path, code);
    fs::path inside = real.lexically_relative(
        fs::weakly_canonical(folder.empty() ? fs::path(".") : folder, code));
    if (code || (!inside.empty() && *inside.begin() != "..")) return "";
    return real.u8string();
}

// The length in bytes of a target too long to compose: exact under <InstallDir>, where
// defaultFolder stands in for it, else only that it is too long.
std::string TargetLength(const std::string& defaultFolder, const WriterEntry& entry) {
    const std::string placeholder = "<InstallDir>";
    if (!BeginsWithName(entry.folder.c_str(), placeholder.c_str()))
        return "over " + std::to_string(PATH_TEXT_SIZE - 1);
    std::string base = defaultFolder;
    DropTrailingBackslash(&base[0]);  // by character, as the update program drops it
    return std::to_string(std::strlen(base.c_str()) + entry.folder.size() - placeholder.size() + 1 +
                          entry.fileName.size());
}

bool IsRegistryKeyWellFormed(const std::string& key) {
    for (const char* root : {"HKEY_LOCAL_MACHINE\\", "HKEY_CURRENT_USER\\", "HKEY_CLASSES_ROOT\\"})
        if (BeginsWithName(key.c_str(), root)) return true;
    return false;
}

// The line's link path trimmed as the update program trims it: blanks, double quotes, semicolons.
std::string TrimmedLinkPath(const std::string& line) {
    std::string linkPath = line.substr(0, line.find(';'));
    std::size_t first = linkPath.find_first_not_of(" \";");
    if (first == std::string::npos) return "";
    std::size_t last = linkPath.find_last_not_of(" \";");
    return linkPath.substr(first, last - first + 1);
}

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// The upper case of `c` as Windows' file systems take it, for the letters of the code pages a
// manifest may name: Latin, Greek, Cyrillic and the full-width Latin letters.
char32_t UpperOf(char32_t c) {
    if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7) ||
        (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) || (c >= 0x430 && c <= 0x44F) ||
        (c >= 0xFF41 && c <= 0xFF5A))
        return c - 0x20;
    if (c >= 0x450 && c <= 0x45F) return c - 0x50;
    if (c == 0xFF) return 0x178;
    if (c == 0x3AC) return 0x386;
    if (c >= 0x3AD && c <= 0x3AF) return c - 0x25;
    if (c == 0x3CC) return 0x38C;
    if (c == 0x3CD || c == 0x3CE) return c - 0x3F;
    // Latin Extended-A: upper and lower side by side, the upper one first.
    if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return c & ~1u;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return c - ((c & 1u) ? 0 : 1);
    return c;
}

// A target as Windows compares names: character by character without regard to case. Not by
// byte: in code pages 932, 936 and 950 a second byte 0x41-0x5A is part of another character
// (セ is 83 5A, ホ 83 7A).
std::string FoldedName(const std::string& bytes, int codePage) {
    std::string text = DecodeText(bytes, codePage), folded;
    for (std::size_t i = 0; i < text.size();) {
        unsigned char lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        if (i + length > text.size()) length = text.size() - i;
        char32_t c = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) c = (c << 6) | (text[i + k] & 0x3F);
        i += length;
        c = UpperOf(c);
        if (c < 0x80) {
            folded += static_cast<char>(c);
        } else if (c < 0x800) {
            folded += static_cast<char>(0xC0 | (c >> 6));
            folded += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            folded += static_cast<char>(0xE0 | (c >> 12));
            folded += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            folded += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            folded += static_cast<char>(0xF0 | (c >> 18));
            folded += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            folded += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            folded += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return folded;
}

void ReadHeader(Reader& in, const toml::table& root, WriterPackage* package) {
    struct Field {
        const char* key;
        std::size_t width;
        std::string* target;
        bool required;
        bool empty;     // may be empty
        NameKind kind;  // File: not a path, only without control characters
    } fields[] = {
        {"title", sizeof(PackageHeader::title), &package->title, true, false, NameKind::File},
        {"versionText", sizeof(PackageHeader::versionText), &package->versionText, true, false,
         NameKind::File},
        {"registryKey", sizeof(PackageHeader::registryKey), &package->registryKey, true, true,
         NameKind::File},
        {"valueName", sizeof(PackageHeader::valueName), &package->valueName, true, true,
         NameKind::File},
        {"defaultFolder", sizeof(PackageHeader::defaultFolder), &package->defaultFolder, true,
         false, NameKind::Absolute},
        {"subFolder", sizeof(PackageHeader::subFolder), &package->subFolder, false, true,
         NameKind::Relative},
    };
    for (const Field& field : fields) {
        std::string text;
        const toml::node* node = in.String(root, field.key, field.required, "", &text);
        if (!node) continue;
        if (text.empty() && !field.empty) {
            in.Fault(node, std::string(field.key) + " is empty; fill it in");
            continue;
        }
        if (!in.Encode(node, text, field.width, field.key, field.target)) continue;
        if (field.target == &package->title || field.target == &package->versionText)
            in.AddUnicodeText(field.target == &package->title ? UTEXT_TITLE : UTEXT_VERSION, 0, 0,
                              text);
        if (field.kind == NameKind::File)
            in.Plain(node, text, field.key);
        else if (!text.empty())
            in.Name(node, *field.target, field.kind, field.key);
        if (std::string(field.key) == "registryKey" && !IsRegistryKeyWellFormed(text))
            in.Fault(node,
                     "registryKey must begin with HKEY_LOCAL_MACHINE\\, HKEY_CURRENT_USER\\ "
                     "or HKEY_CLASSES_ROOT\\ and then the key's path");
    }
}

void ReadRunningApps(Reader& in, const toml::table& root, WriterPackage* package) {
    const toml::array* apps = in.Tables(root, "runningApp");
    if (!apps) return;
    if (apps->size() > RUNNING_APP_COUNT)
        in.Fault(apps->get(RUNNING_APP_COUNT),
                 std::to_string(apps->size()) + " running applications; a package holds at most " +
                     std::to_string(RUNNING_APP_COUNT));
    for (std::size_t k = 0; k < apps->size(); ++k) {
        const toml::table& table = *apps->get(k)->as_table();
        std::string where = "runningApp " + std::to_string(k) + ": ";
        WriterRunningApp app;
        std::string windowClass, message;
        const toml::node* classNode = in.String(table, "windowClass", true, where, &windowClass);
        const toml::node* messageNode = in.String(table, "message", true, where, &message);
        if (classNode && windowClass.empty())
            in.Fault(classNode, where + "windowClass is empty; such a record matches no window");
        if (classNode && in.Encode(classNode, windowClass, sizeof(RunningAppRecord::windowClass),
                                   where + "windowClass", &app.windowClass))
            in.Plain(classNode, windowClass, where + "windowClass");
        if (messageNode && in.Encode(messageNode, message, sizeof(RunningAppRecord::message),
                                     where + "message", &app.message)) {
            in.WarnOfLiteralEscape(messageNode, message, where + "message");
            in.AddUnicodeText(UTEXT_MESSAGE, static_cast<std::uint16_t>(k), 0, message);
        }
        if (k < RUNNING_APP_COUNT) package->runningApps.push_back(app);
    }
}

// A shortcut's place: a tag, then its folders and name, to which the program adds ".lnk".
// `bytes` is `text` in the code page. Returns the length of the name in bytes, or -1 after a
// fault.
long CheckLinkPath(Reader& in, const toml::node* node, const std::string& text,
                   const std::string& bytes, const std::string& name) {
    if (ShortcutTagOf(bytes.c_str()) < 0) {
        in.Fault(node, name + " '" + text +
                           "' begins with no known tag (<ProgramMenu>, <Desktop>, <StartMenu>, "
                           "<StartUpMenu>, <QuickLaunch>)");
        return -1;
    }
    if (!in.Name(node, bytes, NameKind::Shortcut, name)) return -1;
    // Split as the update program splits it, by character in the manifest's code page.
    const char* slash = FindLastBackslash(bytes.c_str());
    std::size_t length = slash ? std::strlen(slash + 1) : 0;
    if (length == 0) {
        in.Fault(node, name + " '" + text + "' names no shortcut after its tag and folders");
        return -1;
    }
    if (length >= 4 && Lower(bytes.substr(bytes.size() - 4)) == ".lnk") {
        in.Fault(node, name + " '" + text +
                           "' ends in '.lnk'; the update program adds '.lnk' itself, so leave "
                           "it out");
        return -1;
    }
    return static_cast<long>(length);
}

// The shortcut lines of one file, joined by CR LF as the package holds them.
void ReadShortcuts(Reader& in, const toml::table& table, const std::string& where,
                   WriterEntry* entry) {
    const toml::node* node = table.get("shortcuts");
    if (!node) return;
    const toml::array* lines = node->as_array();
    if (!lines) {
        in.Fault(node, where + "shortcuts must be a list of texts");
        return;
    }
    std::string text;
    bool ok = true;
    for (std::size_t k = 0; k < lines->size(); ++k) {
        const toml::node* lineNode = lines->get(k);
        if (!lineNode->is_string()) {
            in.Fault(lineNode, where + "a shortcut line must be a text");
            ok = false;
            continue;
        }
        std::string line = lineNode->as_string()->get();
        std::string name = where + "shortcut line " + std::to_string(k + 1);
        if (line.find_first_of("\r\n") != std::string::npos) {
            in.Fault(lineNode, name + " holds a line break; give each shortcut its own line");
            ok = false;
            continue;
        }
        // Without a semicolon the update program would join the line to the next one.
        if (line.find(';') == std::string::npos) line += ";";
        std::string bytes;
        if (!in.Encode(lineNode, line, SHORTCUT_TEXT_SIZE, name, &bytes)) {
            ok = false;
            continue;
        }
        std::string linkPathBytes = TrimmedLinkPath(bytes);
        long description = CheckLinkPath(in, lineNode, TrimmedLinkPath(line), linkPathBytes, name);
        if (description < 0 ||
            !in.Plain(lineNode, line.substr(line.find(';') + 1), name + ": the arguments")) {
            ok = false;
            continue;
        }
        if (static_cast<std::size_t>(description) >= DESCRIPTION_SIZE) {
            in.Fault(lineNode, name + ": the shortcut's name is " + std::to_string(description) +
                                   " bytes; at most " + std::to_string(DESCRIPTION_SIZE - 1) +
                                   " fit its description");
            ok = false;
        }
        if (!text.empty()) text += "\r\n";
        text += bytes;
    }
    if (ok && text.size() > SHORTCUT_TEXT_MAX) {
        in.Fault(node, where + "the shortcut text is " + std::to_string(text.size()) +
                           " bytes with its line breaks; at most " +
                           std::to_string(SHORTCUT_TEXT_MAX) + " fit");
        return;
    }
    entry->shortcutText = text;
}

void ReadFiles(Reader& in, const toml::table& root, const fs::path& base, WriterPackage* package) {
    const toml::array* files = in.Tables(root, "file");
    if (!files) return;
    int runAfter = 0;
    const toml::node* seventeenth = nullptr;
    std::map<std::string, std::string> targets;  // folded target: the file that has it
    for (std::size_t i = 0; i < files->size(); ++i) {
        const toml::table& table = *files->get(i)->as_table();
        std::string where = "file " + std::to_string(i) + ": ";
        WriterEntry entry;
        std::string source, folder = "<InstallDir>", fileName;
        const toml::node* sourceNode = in.String(table, "source", true, where, &source);
        const toml::node* folderNode = in.String(table, "folder", false, where, &folder);
        const toml::node* nameNode = in.String(table, "fileName", false, where, &fileName);
        if (sourceNode) {
            // A manifest written on Windows separates folders with backslashes.
            std::replace(source.begin(), source.end(), '\\', '/');
            fs::path sourcePath = base / fs::u8path(source);
            in.result->sources.push_back(sourcePath.u8string());
            std::error_code code;
            std::string error, outside = LinkOutside(base, source);
            if (!fs::is_regular_file(sourcePath, code)) {
                in.Fault(sourceNode, where + "source file '" + sourcePath.u8string() +
                                         "' does not exist or is not a file");
            } else if (!outside.empty() && !in.Bool(table, "followLinks", where)) {
                in.Fault(sourceNode, where + "source '" + source +
                                         "' is a symbolic link leading out of the manifest's "
                                         "folder, to '" +
                                         outside +
                                         "'; set followLinks = true for this file to package it");
            } else if (fs::file_size(sourcePath, code) > 0xFFFFFFFFu) {
                in.Fault(sourceNode, where + "source file is larger than 4 GiB");
            } else if (!ReadWholeFile(sourcePath.u8string(), &entry.data, &error)) {
                in.Fault(sourceNode, where + "source file cannot be read: " + error);
            } else if (entry.data.size() > LARGE_ENTRY) {
                in.Warn(sourceNode, where + "source file '" + source + "' is " +
                                        std::to_string(entry.data.size() >> 20) +
                                        " MiB; the update program holds each file whole in "
                                        "memory and may fail to apply one over 1 GiB on "
                                        "32-bit Windows");
            }
            if (!nameNode) fileName = sourcePath.filename().u8string();
        }
        where = "file " + std::to_string(i) + " (" + fileName + "): ";
        const toml::node* at = nameNode ? nameNode : sourceNode ? sourceNode : files->get(i);
        bool nameOk = in.Encode(at, fileName, sizeof(PackageEntry::fileName), where + "fileName",
                                &entry.fileName);
        if (nameOk && fileName.empty() && (nameNode || sourceNode)) {
            in.Fault(at, where + "fileName is empty");
            nameOk = false;
        }
        const toml::node* folderAt = folderNode ? folderNode : files->get(i);
        bool folderOk = in.Encode(folderAt, folder, sizeof(PackageEntry::folder), where + "folder",
                                  &entry.folder);
        if (folderOk && FilePlaceholderOf(entry.folder.c_str()) < 0) {
            in.Fault(folderAt, where + "folder '" + folder +
                                   "' begins with no known placeholder (<InstallDir>, "
                                   "<WindowsDir>, <SystemDir>)");
            folderOk = false;
        }
        nameOk = nameOk && in.Name(at, entry.fileName, NameKind::File, where + "fileName");
        folderOk = folderOk && in.Name(folderAt, entry.folder, NameKind::Folder, where + "folder");
        // The target as it would be where the registry names no install folder.
        if (nameOk && folderOk) {
            char target[PATH_TEXT_SIZE];
            char installDir[PATH_TEXT_SIZE];
            TextCopy(installDir, sizeof installDir, package->defaultFolder.c_str());
            if (!ResolveTargetPath(entry.fileName.c_str(), entry.folder.c_str(), installDir,
                                   target)) {
                in.Fault(folderAt, where + "the target composed against defaultFolder would be " +
                                       TargetLength(package->defaultFolder, entry) +
                                       " bytes in code page " + std::to_string(in.codePage) +
                                       "; at most " + std::to_string(PATH_TEXT_SIZE - 1) + " fit");
            } else {
                auto [other, fresh] = targets.emplace(FoldedName(target, in.codePage), where);
                if (!fresh)
                    in.Fault(at, where + "the same target as " +
                                     other->second.substr(0, other->second.size() - 2) + ", " +
                                     DecodeText(target, in.codePage));
            }
        }
        if (in.Bool(table, "alwaysReplace", where)) entry.flags |= ENTRY_ALWAYS_REPLACE;
        if (in.Bool(table, "runAfter", where)) {
            entry.flags |= ENTRY_RUN_AFTER;
            if (++runAfter == RUN_AFTER_CAPACITY + 1) seventeenth = table.get("runAfter");
        }
        ReadShortcuts(in, table, where, &entry);
        package->entries.push_back(std::move(entry));
    }
    if (seventeenth)
        in.Fault(seventeenth, std::to_string(runAfter) +
                                  " files are marked runAfter; the update "
                                  "program runs at most " +
                                  std::to_string(RUN_AFTER_CAPACITY));
}

void ReadMoves(Reader& in, const toml::table& root, WriterPackage* package) {
    const toml::array* moves = in.Tables(root, "move");
    if (!moves) return;
    if (!moves->empty() && package->entries.empty())
        in.Fault(moves->get(0),
                 "shortcut moves need at least one file: the update program finds "
                 "the move table behind the last file's data");
    for (std::size_t r = 0; r < moves->size(); ++r) {
        const toml::table& table = *moves->get(r)->as_table();
        std::string where = "move " + std::to_string(r) + ": ";
        WriterMove move;
        std::string from, to;
        const toml::node* fromNode = in.String(table, "from", true, where, &from);
        const toml::node* toNode = in.String(table, "to", true, where, &to);
        if (fromNode &&
            in.Encode(fromNode, from, sizeof(ShortcutMoveRecord::from), where + "from", &move.from))
            CheckLinkPath(in, fromNode, from, move.from, where + "from");
        // The update program deletes the shortcut when `to` does not resolve; only an empty
        // `to` says so on purpose.
        if (toNode &&
            in.Encode(toNode, to, sizeof(ShortcutMoveRecord::to), where + "to", &move.to) &&
            !move.to.empty() && ShortcutTagOf(move.to.c_str()) < 0)
            in.Fault(toNode,
                     where + "to '" + to + "' begins with no known tag (leave it empty to delete)");
        else if (toNode && !move.to.empty())
            CheckLinkPath(in, toNode, to, move.to, where + "to");
        package->moves.push_back(move);
    }
}

// Why the update program would refuse `bytes` (<InstallDir>\... in the code page) as a folder
// or file beneath the install folder, composed onto defaultFolder as `build` composes targets;
// "" when it takes it. The program's own check.
std::string BeneathInstallDir(const std::string& bytes, const std::string& defaultFolder) {
    char path[PATH_TEXT_SIZE];
    // Without defaultFolder (its own fault) the path is checked beneath a stand-in.
    const char* installDir = defaultFolder.empty() ? "C:\\X" : defaultFolder.c_str();
    switch (ExtraPath(bytes.c_str(), installDir, path)) {
        case EXTRA_SET:
            return "";
        case EXTRA_ROOT_INSTALL_DIR:
            return "needs an install folder beneath a drive's root, and defaultFolder is one";
        default:
            break;
    }
    if (!BeginsWithName(bytes.c_str(), "<InstallDir>\\"))
        return "must begin with <InstallDir>\\: only the install folder's own files and folders";
    std::string composed = defaultFolder + bytes.substr(std::strlen("<InstallDir>"));
    if (composed.size() >= PATH_TEXT_SIZE)
        return "composed against defaultFolder would be " + std::to_string(composed.size()) +
               " bytes; at most " + std::to_string(PATH_TEXT_SIZE - 1) + " fit";
    return "must name folders and a file beneath the install folder: no '..' or '.', no "
           "empty name, no wildcard or other character Windows refuses, no name ending in a "
           "dot or blank";
}

// The folders to create before the files: each [[file]] with createFolder = true, or every
// file under <InstallDir>\... with the top-level createFolders = true.
void ReadFolders(Reader& in, const toml::table& root, const WriterPackage& package,
                 WriterExtras* extras) {
    bool all = in.Bool(root, "createFolders", "");
    const toml::array* files = root.get("file") ? root.get("file")->as_array() : nullptr;
    if (!files || !files->is_array_of_tables() || files->size() != package.entries.size()) return;
    std::set<std::string> seen;
    for (std::size_t i = 0; i < files->size(); ++i) {
        const toml::table& table = *files->get(i)->as_table();
        std::string where = "file " + std::to_string(i + 1) + ": ";
        bool asked = in.Bool(table, "createFolder", where);
        const std::string& folder = package.entries[i].folder;
        bool underInstallDir = BeginsWithName(folder.c_str(), "<InstallDir>\\");
        if (!asked && !(all && underInstallDir)) continue;
        if (!underInstallDir) {
            if (asked)
                in.Fault(table.get("createFolder"),
                         where +
                             "createFolder needs a folder beneath the install folder, "
                             "'<InstallDir>\\...'; the update program creates no other");
            continue;
        }
        std::string fault = BeneathInstallDir(folder, package.defaultFolder);
        if (!fault.empty()) {
            in.Fault(asked ? table.get("createFolder") : &table,
                     where + "folder to create '" + DecodeText(folder, in.codePage) + "' " + fault);
            continue;
        }
        if (seen.insert(FoldedName(folder, in.codePage)).second) extras->folders.push_back(folder);
    }
}

// [[remove]]: files gone from the release, removed after every file is in place.
void ReadRemovals(Reader& in, const toml::table& root, const WriterPackage& package,
                  WriterExtras* extras) {
    const toml::array* removals = in.Tables(root, "remove");
    if (!removals) return;
    std::map<std::string, std::string> packaged;  // folded target: the file that has it
    for (std::size_t i = 0; i < package.entries.size(); ++i) {
        const WriterEntry& entry = package.entries[i];
        packaged.emplace(FoldedName(entry.folder + "\\" + entry.fileName, in.codePage),
                         "file " + std::to_string(i + 1));
    }
    std::set<std::string> seen;
    for (std::size_t r = 0; r < removals->size(); ++r) {
        const toml::table& table = *removals->get(r)->as_table();
        std::string where = "remove " + std::to_string(r + 1) + ": ";
        std::string target;
        const toml::node* node = in.String(table, "target", true, where, &target);
        WriterRemoval removal;
        if (in.Bool(table, "removeEmptyFolder", where)) removal.flags |= REMOVAL_EMPTY_FOLDER;
        if (!node || !in.Encode(node, target, sizeof(RemovalRecord::target), where + "target",
                                &removal.target))
            continue;
        std::string fault = BeneathInstallDir(removal.target, package.defaultFolder);
        if (!fault.empty()) {
            in.Fault(node, where + "target '" + target + "' " + fault);
            continue;
        }
        if (!in.Name(node, removal.target, NameKind::Folder, where + "target")) continue;
        std::string folded = FoldedName(removal.target, in.codePage);
        auto same = packaged.find(folded);
        if (same != packaged.end()) {
            in.Fault(node, where + "target '" + target + "' is also the target of " + same->second +
                               ": a patch does not remove what it writes");
            continue;
        }
        if (!seen.insert(folded).second) {
            in.Fault(node, where + "target '" + target + "' is removed twice");
            continue;
        }
        extras->removals.push_back(removal);
    }
}

// [[registry]]: values set once every file is in place, only in a key that already exists.
void ReadRegistryValues(Reader& in, const toml::table& root, WriterExtras* extras) {
    const toml::array* values = in.Tables(root, "registry");
    if (!values) return;
    for (std::size_t r = 0; r < values->size(); ++r) {
        const toml::table& table = *values->get(r)->as_table();
        std::string where = "registry " + std::to_string(r + 1) + ": ";
        WriterRegistryValue value;
        std::string key, name, type = "string";
        const toml::node* keyNode = in.String(table, "key", true, where, &key);
        const toml::node* nameNode = in.String(table, "value", true, where, &name);
        const toml::node* typeNode = in.String(table, "type", false, where, &type);
        const toml::node* dataNode = table.get("data");
        if (keyNode &&
            in.Encode(keyNode, key, sizeof(RegistryRecord::key), where + "key", &value.key) &&
            in.Plain(keyNode, key, where + "key")) {
            bool rooted = false;
            for (const char* rootName : {"HKEY_LOCAL_MACHINE\\", "HKEY_CURRENT_USER\\"})
                rooted = rooted || (BeginsWithName(value.key.c_str(), rootName) &&
                                    value.key.size() > std::strlen(rootName));
            if (!rooted || value.key.find("\\\\") != std::string::npos || value.key.back() == '\\')
                in.Fault(keyNode, where + "key '" + key +
                                      "' must be HKEY_LOCAL_MACHINE\\ or HKEY_CURRENT_USER\\ and "
                                      "then the path of a key the product's installer made");
        }
        if (nameNode && in.Encode(nameNode, name, sizeof(RegistryRecord::valueName),
                                  where + "value", &value.valueName))
            in.Plain(nameNode, name, where + "value");
        if (typeNode && type != "string" && type != "dword") {
            in.Fault(typeNode, where + "type must be 'string' or 'dword'");
            continue;
        }
        if (!dataNode) {
            in.Fault(&table, where + "missing key 'data'");
            continue;
        }
        if (type == "dword") {
            value.type = EXTRAS_REG_DWORD;
            const toml::value<std::int64_t>* number = dataNode->as_integer();
            if (!number || number->get() < 0 || number->get() > 0xFFFFFFFFll)
                in.Fault(dataNode, where + "data of a dword must be a number from 0 to 4294967295");
            else
                value.number = static_cast<std::uint32_t>(number->get());
        } else {
            value.type = EXTRAS_REG_SZ;
            if (!dataNode->is_string())
                in.Fault(dataNode, where + "data must be a text (or set type = 'dword')");
            else if (in.Encode(dataNode, dataNode->as_string()->get(), sizeof(RegistryRecord::text),
                               where + "data", &value.text))
                in.Plain(dataNode, dataNode->as_string()->get(), where + "data");
        }
        extras->values.push_back(value);
    }
}

const std::initializer_list<const char*> PROGRAM_KEYS = {
    "icon",           "companyName",    "productName",      "fileDescription", "fileVersion",
    "productVersion", "legalCopyright", "originalFilename", "signDescription", "signUrl",
    "welcome",        "explain",        "welcomeJa",        "explainJa"};

// A dialog text as the dialog fills it: "%s" takes the field, "%%" is a percent sign. Returns
// the template's bytes without them and the count of "%s" in `fills`; "" in `fault` when every
// other '%' is doubled.
std::string TemplateRest(const std::string& text, int* fills, std::string* fault) {
    std::string rest;
    *fills = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] != '%') {
            rest += text[at];
        } else if (at + 1 < text.size() && (text[at + 1] == 's' || text[at + 1] == '%')) {
            if (text[++at] == 's')
                ++*fills;
            else
                rest += '%';
        } else {
            *fault = "holds a '%' that is not '%s'; write a percent sign as '%%'";
        }
    }
    return rest;
}

// The dialog's texts: each holds the one "%s" the dialog fills (the title in the welcome, the
// version in the explanation), in the code page of the Windows that shows that language (the
// manifest's for English, 932 for Japanese), and filled with this package's text it fits the
// dialog's 512-byte buffer.
void ReadDialogTexts(Reader& in, const toml::table& table, const WriterPackage& package) {
    struct Key {
        const char* key;
        std::uint16_t language, control;
        int codePage;
        const std::string& field;  // in the package, as the dialog gets it
        const char* fieldName;
    } keys[] = {
        {"welcome", DIALOG_ENGLISH, DIALOG_WELCOME, in.codePage, package.title, "title"},
        {"explain", DIALOG_ENGLISH, DIALOG_EXPLAIN, in.codePage, package.versionText,
         "versionText"},
        {"welcomeJa", DIALOG_JAPANESE, DIALOG_WELCOME, 932, package.title, "title"},
        {"explainJa", DIALOG_JAPANESE, DIALOG_EXPLAIN, 932, package.versionText, "versionText"},
    };
    for (const Key& key : keys) {
        std::string text, name = std::string("program: ") + key.key;
        const toml::node* at = in.String(table, key.key, false, "program: ", &text);
        if (!at) continue;
        std::string fault, bytes, error;
        int fills = 0;
        std::string rest = TemplateRest(text, &fills, &fault);
        for (unsigned char c : text)
            if ((c < 0x20 && c != '\r' && c != '\n') || c == 0x7F) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02X", c);
                fault = std::string("holds the control character ") + hex +
                        " (a line break is the only one a dialog text may hold)";
            }
        if (fault.empty() && fills != 1)
            fault = "holds " + std::to_string(fills) + " '%s'; it needs exactly one, where the " +
                    "dialog puts the " + key.fieldName;
        if (!fault.empty()) {
            in.Fault(at, name + " " + fault, true);
            continue;
        }
        if (!EncodeText(rest, key.codePage, &bytes, &error)) {
            in.Fault(at, name + ": " + error, true);
            continue;
        }
        if (bytes.size() + key.field.size() >= DIALOG_TEXT_BYTES) {
            in.Fault(at,
                     name + " is " + std::to_string(bytes.size() + key.field.size()) +
                         " bytes in code page " + std::to_string(key.codePage) + " with the " +
                         key.fieldName + " in it; the dialog holds at most " +
                         std::to_string(DIALOG_TEXT_BYTES - 1),
                     true);
            continue;
        }
        in.WarnOfLiteralEscape(at, text, name);
        in.result->identity.dialogTexts.push_back({key.language, key.control, text});
        in.AddUnicodeText(key.control == DIALOG_WELCOME ? UTEXT_WELCOME : UTEXT_EXPLAIN, 0,
                          key.language, text);
    }
}

// The [program] table: the patch program's version block texts and numbers, its icon, and
// what its signature shows.
void ReadProgram(Reader& in, const toml::table& root, const fs::path& base) {
    const toml::node* node = root.get("program");
    if (!node) return;
    const toml::table* table = node->as_table();
    if (!table) {
        in.Fault(node, "program must be a table: write it as [program] with its keys below");
        return;
    }
    ProgramIdentity& identity = in.result->identity;
    // Manifest key, version block key.
    const std::pair<const char*, const char*> texts[] = {{"companyName", "CompanyName"},
                                                         {"productName", "ProductName"},
                                                         {"fileDescription", "FileDescription"},
                                                         {"fileVersion", "FileVersion"},
                                                         {"productVersion", "ProductVersion"},
                                                         {"legalCopyright", "LegalCopyright"},
                                                         {"originalFilename", "OriginalFilename"},
                                                         {"signDescription", nullptr},
                                                         {"signUrl", nullptr}};
    for (const auto& [key, blockKey] : texts) {
        std::string text;
        const toml::node* at = in.String(*table, key, false, "program: ", &text);
        if (!at || !in.Plain(at, text, std::string("program: ") + key)) continue;
        std::u16string units;
        Utf16(text, &units);
        if (units.size() > VERSION_TEXT_LIMIT) {
            in.Fault(at, std::string("program: ") + key + " is " + std::to_string(units.size()) +
                             " UTF-16 characters; the version block holds at most " +
                             std::to_string(VERSION_TEXT_LIMIT) + " for one text");
            continue;
        }
        if (blockKey) identity.strings.emplace_back(blockKey, text);
        if (std::string(key) == "fileVersion") {
            identity.haveFileVersion = ParseVersion(text, true, identity.fileVersion);
            if (!identity.haveFileVersion)
                in.Fault(at, "program: fileVersion '" + text +
                                 "' must be four numbers of at most 65535 with dots between, "
                                 "as '3.1.0.0'");
        } else if (std::string(key) == "productVersion") {
            identity.haveProductVersion = ParseVersion(text, false, identity.productVersion);
        } else if (std::string(key) == "signDescription") {
            identity.signDescription = text;
        } else if (std::string(key) == "signUrl") {
            if (text.compare(0, 7, "http://") != 0 && text.compare(0, 8, "https://") != 0)
                in.Fault(at, "program: signUrl '" + text + "' must begin with http:// or https://");
            identity.signUrl = text;
        }
    }
    ReadDialogTexts(in, *table, in.result->package);
    std::map<std::string, std::string> given(identity.strings.begin(), identity.strings.end());
    identity.manifestName =
        ManifestNameFor(given["CompanyName"], given["ProductName"], given["OriginalFilename"]);
    // The stub's InternalName is its file name too; it follows, so that none of ours is left.
    for (std::size_t k = 0; k < identity.strings.size(); ++k)
        if (identity.strings[k].first == "OriginalFilename")
            identity.strings.emplace_back("InternalName", identity.strings[k].second);
    // A product version that is no numbers gives the fixed part the file version's.
    if (!identity.haveProductVersion && identity.haveFileVersion) {
        identity.haveProductVersion = true;
        std::copy(identity.fileVersion, identity.fileVersion + 4, identity.productVersion);
    }
    std::string icon;
    if (const toml::node* at = in.String(*table, "icon", false, "program: ", &icon)) {
        fs::path path = base / fs::u8path(icon);
        in.result->sources.push_back(path.u8string());
        std::string error;
        std::vector<IconImage> images;
        std::error_code code;
        if (!fs::is_regular_file(path, code))
            in.Fault(at, "program: icon '" + path.u8string() + "' does not exist or is not a file");
        else if (!ReadWholeFile(path.u8string(), &identity.icon, &error, ICON_FILE_LIMIT + 1))
            in.Fault(at, "program: icon '" + path.u8string() + "' " +
                             (error.find("larger") != std::string::npos ||
                                      error.find("grew") != std::string::npos
                                  ? "is too large: an icon is at most " +
                                        std::to_string(ICON_FILE_LIMIT) + " bytes"
                                  : "cannot be read: " + error));
        else if (!ReadIcon(identity.icon, &images, &error))
            in.Fault(at, "program: icon '" + path.u8string() + "' " + error);
    }
}

// Keys are checked before any is read, so that a key explained as misspelt or misplaced is
// not also reported missing.
void CheckAllKeys(Reader& in, const toml::table& root) {
    in.CheckKeys(root,
                 {"codePage", "title", "versionText", "registryKey", "valueName", "defaultFolder",
                  "subFolder", "executionLevel", "createFolders", "runningApp", "file", "move",
                  "remove", "registry", "program"},
                 "", root, "");
    if (const toml::table* program =
            root.get("program") ? root.get("program")->as_table() : nullptr)
        in.CheckKeys(*program, PROGRAM_KEYS, "program: ", root, "[program]");
    struct Kind {
        const char* key;
        const char* where;
        std::initializer_list<const char*> known;
    } kinds[] = {
        {"runningApp", "runningApp ", {"windowClass", "message"}},
        {"file",
         "file ",
         {"source", "folder", "fileName", "alwaysReplace", "runAfter", "shortcuts", "followLinks",
          "createFolder"}},
        {"move", "move ", {"from", "to"}},
        {"remove", "remove ", {"target", "removeEmptyFolder"}},
        {"registry", "registry ", {"key", "value", "data", "type"}},
    };
    for (const Kind& kind : kinds) {
        const toml::array* array = root.get(kind.key) ? root.get(kind.key)->as_array() : nullptr;
        if (!array || !array->is_array_of_tables()) continue;
        for (std::size_t i = 0; i < array->size(); ++i)
            in.CheckKeys(*array->get(i)->as_table(), kind.known,
                         kind.where + std::to_string(i) + ": ", root,
                         "[[" + std::string(kind.key) + "]]");
    }
}

// The offset of the first byte that breaks UTF-8, or npos.
std::size_t FirstNonUtf8(const std::string& text) {
    for (std::size_t at = 0; at < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[at]);
        std::size_t length = c < 0x80         ? 1
                             : (c >> 5) == 6  ? 2
                             : (c >> 4) == 14 ? 3
                             : (c >> 3) == 30 ? 4
                                              : 0;
        if (length == 0 || c == 0xC0 || c == 0xC1 || at + length > text.size()) return at;
        for (std::size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[at + k]) & 0xC0) != 0x80) return at;
        at += length;
    }
    return std::string::npos;
}

// Every byte pair of `text` a Shift-JIS lead and trail byte where it is not ASCII.
bool LooksShiftJis(const std::string& text) {
    for (std::size_t at = 0; at < text.size(); ++at) {
        unsigned char c = static_cast<unsigned char>(text[at]);
        if (c < 0x80 || (c >= 0xA1 && c <= 0xDF)) continue;  // ASCII, half-width kana
        if (!((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) || at + 1 >= text.size())
            return false;
        unsigned char t = static_cast<unsigned char>(text[++at]);
        if (t < 0x40 || t == 0x7F || t > 0xFC) return false;
    }
    return true;
}

// toml++ reads only UTF-8; a manifest saved in another encoding is named for what it looks like.
std::string EncodingFault(const std::string& path, const std::string& text) {
    std::string looks;
    std::size_t at = 0;
    if (text.compare(0, 2, "\xFF\xFE") == 0 || text.compare(0, 2, "\xFE\xFF") == 0 ||
        text.find('\0') != std::string::npos) {
        looks = "UTF-16";
    } else if ((at = FirstNonUtf8(text)) != std::string::npos) {
        looks = LooksShiftJis(text) ? "Shift-JIS (code page 932)" : "an ANSI code page";
    } else {
        return "";
    }
    std::size_t line = 1 + std::count(text.begin(), text.begin() + at, '\n');
    std::size_t start = at == 0 ? std::string::npos : text.rfind('\n', at - 1);
    std::size_t column = at - (start == std::string::npos ? 0 : start + 1) + 1;
    return path + ":" + std::to_string(line) + ":" + std::to_string(column) +
           ": the manifest is not UTF-8; it looks like " + looks +
           ": save it as UTF-8 (in Notepad: Save As, Encoding UTF-8)";
}

}  // namespace

int LoadManifest(const std::string& path, ManifestResult* result) {
    *result = ManifestResult{};
    Reader in{path, 0, result, {}, {}};
    std::string bytes;
    {
        std::ifstream file(fs::u8path(path), std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    std::string encoding = EncodingFault(path, bytes);
    if (!encoding.empty()) {
        result->faults.push_back(encoding);
        return 0;
    }
    toml::parse_result parsed = toml::parse_file(path);
    if (!parsed) {
        const toml::parse_error& error = parsed.error();
        std::string where = path;
        if (error.source().begin.line != 0)
            where += ":" + std::to_string(error.source().begin.line) + ":" +
                     std::to_string(error.source().begin.column);
        std::string what(error.description());
        if (what.find("escape") != std::string::npos)
            what +=
                " (in double quotes a backslash begins an escape: use single quotes for "
                "Windows paths)";
        result->faults.push_back(where + ": " + what);
        return 0;
    }
    std::ifstream file(fs::u8path(path), std::ios::binary);
    for (std::string line; std::getline(file, line);) in.lines.push_back(line);
    const toml::table& root = parsed.table();
    CheckAllKeys(in, root);
    const toml::node* codePageNode = root.get("codePage");
    if (!codePageNode) {
        if (!in.explained.count({&root, "codePage"}))
            in.Fault(&root,
                     "missing key 'codePage' (the ANSI code page of the target machines, "
                     "e.g. 932 or 1252)");
        return 0;
    }
    if (!codePageNode->is_integer() || codePageNode->as_integer()->get() <= 0 ||
        codePageNode->as_integer()->get() > 65535 ||
        !CodePageKnown(static_cast<int>(codePageNode->as_integer()->get()))) {
        in.Fault(codePageNode,
                 "codePage must be a Windows ANSI code page: 874, 932, 936, 949, 950 or "
                 "1250 to 1258");
        return 0;
    }
    in.codePage = static_cast<int>(codePageNode->as_integer()->get());
    result->codePage = in.codePage;
    SetPlatformCodePage(in.codePage);

    std::string level;
    if (const toml::node* node = in.String(root, "executionLevel", false, "", &level)) {
        if (level == "asInvoker" || level == "highestAvailable" || level == "requireAdministrator")
            result->executionLevel = level;
        else
            in.Fault(node,
                     "executionLevel must be 'asInvoker', 'highestAvailable' or "
                     "'requireAdministrator'");
    }

    fs::path base = fs::u8path(path).parent_path();
    ReadHeader(in, root, &result->package);
    ReadRunningApps(in, root, &result->package);
    ReadFiles(in, root, base, &result->package);
    ReadMoves(in, root, &result->package);
    ReadFolders(in, root, result->package, &result->extras);
    ReadRemovals(in, root, result->package, &result->extras);
    ReadRegistryValues(in, root, &result->extras);
    ReadProgram(in, root, base);
    return result->faults.empty() ? 1 : 0;
}

int UnicodeTextsResource(const std::vector<WriterUnicodeText>& texts, bool withDialogTexts,
                         std::vector<unsigned char>* out, std::string* error) {
    std::vector<WriterUnicodeText> carried;
    bool ascii = true;
    for (const WriterUnicodeText& text : texts) {
        if (!withDialogTexts && (text.kind == UTEXT_WELCOME || text.kind == UTEXT_EXPLAIN))
            continue;
        for (char16_t unit : text.text) ascii = ascii && unit < 0x80;
        carried.push_back(text);
    }
    out->clear();
    return ascii || BuildUnicodeTexts(carried, out, error);
}

std::string TomlString(const std::string& text) {
    bool literal = text.find('\'') == std::string::npos;
    for (unsigned char c : text) literal = literal && (c >= 0x20 || c == '\t') && c != 0x7F;
    if (literal) return "'" + text + "'";
    std::string quoted = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", c);
            quoted += escape;
        } else {
            quoted += static_cast<char>(c);
        }
    }
    return quoted + "\"";
}

// Declared with the package file's loader, which tells the two apart; defined here so that toml++,
// slow to compile, is compiled in one file of the tool.
bool IsManifestText(const unsigned char* bytes, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(bytes), size);
    if (text.find('\0') != std::string_view::npos) return false;
    toml::parse_result parsed = toml::parse(text);
    if (!parsed) return false;
    for (const char* key : {"codePage", "title", "file", "runningApp", "move"})
        if (parsed.table().contains(key)) return true;
    return false;
}
