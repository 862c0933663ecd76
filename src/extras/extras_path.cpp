// SPDX-License-Identifier: MIT
// Where a folder or removal record points: checked and composed without the platform, so that
// tidepack checks a manifest with the program's own rule.
#include <cstring>

#include "base/code_page.h"
#include "base/text.h"
#include "extras/extras_run.h"

namespace {

const char INSTALL_DIR_TAG[] = "<InstallDir>";

const char* NextCharacter(const char* text) {
    if (IsAnsiLeadByte(static_cast<unsigned char>(*text)) && text[1] != '\0') return text + 2;
    return text + 1;
}

// One name between backslashes, [begin, end): not empty, not "." or "..", none of the
// characters Windows refuses in a name, not ending in a dot or a blank (Windows would drop
// them and name another file), no device's name (it would open the device). Stepped through by
// character: a second byte is never one of these.
bool IsPlainName(const char* begin, const char* end) {
    if (begin == end || end[-1] == '.' || end[-1] == ' ' || IsDeviceName(begin, end)) return false;
    for (const char* at = begin; at < end; at = NextCharacter(at)) {
        unsigned char byte = static_cast<unsigned char>(*at);
        if (byte < 0x20 || std::strchr("/:*?\"<>|", byte)) return false;
    }
    return true;
}

// "\name\name...": every name plain.
bool IsRelativeRest(const char* rest) {
    if (rest[0] != '\\') return false;
    const char* begin = rest + 1;
    for (;;) {
        const char* separator = FindBackslash(begin);
        const char* end = separator ? separator : begin + std::strlen(begin);
        if (!IsPlainName(begin, end)) return false;
        if (!separator) return true;
        begin = separator + 1;
    }
}

// "C:" or "\\server\share", once its trailing backslash is dropped: no folder of its own.
bool IsRootFolder(const char* folder) {
    if (folder[0] != '\0' && folder[1] == ':' && folder[2] == '\0') return true;
    if (folder[0] != '\\' || folder[1] != '\\') return false;
    const char* share = FindBackslash(folder + 2);
    return share == nullptr || FindBackslash(share + 1) == nullptr;
}

}  // namespace

ExtraOutcome ExtraInstallBase(const char* installDir, char* base) {
    if (installDir == nullptr || installDir[0] == '\0' ||
        !TextCopy(base, PATH_TEXT_SIZE, installDir))
        return EXTRA_NO_INSTALL_DIR;
    DropTrailingBackslash(base);
    if (IsRootFolder(base)) return EXTRA_ROOT_INSTALL_DIR;
    return EXTRA_SET;
}

ExtraOutcome ExtraPath(const char* text, const char* installDir, char* path) {
    char base[PATH_TEXT_SIZE];
    ExtraOutcome outcome = ExtraInstallBase(installDir, base);
    if (outcome != EXTRA_SET) return outcome;
    if (!BeginsWithName(text, INSTALL_DIR_TAG)) return EXTRA_OUTSIDE;
    const char* rest = text + std::strlen(INSTALL_DIR_TAG);
    if (!IsRelativeRest(rest) || !TextFormat(path, PATH_TEXT_SIZE, "%s%s", base, rest))
        return EXTRA_OUTSIDE;
    return EXTRA_SET;
}

int IsLinkReparseTag(unsigned long tag) { return (tag & 0x20000000ul) != 0; }
