// SPDX-License-Identifier: MIT
#include "ui/dialog_logic.h"

#include <cstring>
#include <cwchar>

#include "base/text.h"
#include "resource.h"

int IsOnlyInstance(int gotHandle, int nameExisted) { return gotHandle && !nameExisted ? 1 : 0; }

int FillTemplate(wchar_t* dest, std::size_t capacity, const wchar_t* templateText,
                 const wchar_t* field) {
    if (capacity == 0) return 0;
    std::size_t used = 0;
    int fieldUsed = 0;
    // Appends `length` characters of `part`; fails, leaving dest empty, when they do not fit.
    auto put = [&](const wchar_t* part, std::size_t length) {
        if (length >= capacity - used) {
            dest[0] = L'\0';
            return 0;
        }
        std::wmemcpy(dest + used, part, length);
        used += length;
        return 1;
    };
    for (const wchar_t* p = templateText; *p != L'\0'; ++p) {
        int ok;
        if (p[0] == L'%' && p[1] == L's' && !fieldUsed) {
            ok = put(field, std::wcslen(field));
            fieldUsed = 1;
            ++p;
        } else if (p[0] == L'%' && p[1] == L'%') {
            ok = put(p, 1);
            ++p;
        } else {
            ok = put(p, 1);
        }
        if (!ok) return 0;
    }
    dest[used] = L'\0';
    return 1;
}

DialogTexts GetDialogTexts(const PackageImage& image) {
    DialogTexts texts = {nullptr, nullptr};
    const PackageHeader* header;
    if (!GetPackageHeader(image, &header)) return texts;
    texts.title = PackageText(image, header->title);
    texts.versionText = PackageText(image, header->versionText);
    return texts;
}

CommandDecision DecideCommand(std::uintptr_t wParam) {
    switch (wParam & 0xFFFF) {
        case 2:  // IDCANCEL: Escape or the close box, also while Cancel is disabled
            return {COMMAND_END, 2};
        case IDC_CANCEL:
            return {COMMAND_END, 3};
        case IDC_UPDATE:
            return {COMMAND_UPDATE, 0};
        default:
            return {COMMAND_IGNORE, 0};
    }
}

UpdatePress DecideUpdatePress(int done, int updateEnabled, int workerAlive) {
    if (done) return PRESS_FINISH;
    // Disabled means a run is under way, or a run stopped on a package that did not load; a
    // command that still arrives (queued before the button went grey, or sent by another
    // program) must not start a second run over the same files.
    if (!updateEnabled) return PRESS_IGNORE;
    return workerAlive ? PRESS_AWAIT_START : PRESS_START;
}
