// SPDX-License-Identifier: MIT
// The dialog's logic that does not depend on Windows: filling the template texts from the
// package header, and what each command does in each state of the dialog.
#pragma once

#include <cstddef>
#include <cstdint>

#include "package/package.h"

// Name of the single-instance guard: a named mutex whose existence marks a running copy.
constexpr const char SINGLE_INSTANCE_NAME[] = "ZURIZEVADOZED";

// The decision of the single-instance guard from the two facts the platform reports: this copy
// may go on only when it got a handle and the name did not exist before. 1 or 0.
int IsOnlyInstance(int gotHandle, int nameExisted);

// Fills a template text (Unicode, as the dialog holds it) as printf would with the one string
// argument `field`: the first "%s" becomes `field` (up to its NUL), "%%" becomes "%", and every
// other character, a further "%s" included, is copied unchanged (there is no second argument to
// take). Returns 1 when the whole result fits `capacity` characters with its terminator; 0
// otherwise, with `dest` empty: the caller then keeps the template text rather than show a
// cut-off one.
int FillTemplate(wchar_t* dest, std::size_t capacity, const wchar_t* templateText,
                 const wchar_t* field);

// The header texts that the dialog shows, in place in the package. Each is null when the image
// holds no whole header or the text runs off the image's end; the dialog then leaves the texts
// that would show it in their template form.
struct DialogTexts {
    const char* title;
    const char* versionText;
};
DialogTexts GetDialogTexts(const PackageImage& image);

// WM_COMMAND, by the command id in the low word of wParam (the notification code in the high
// word is not looked at).
enum CommandAction {
    COMMAND_IGNORE,  // not ours: return FALSE
    COMMAND_END,     // end the dialog with `endResult`, return TRUE
    COMMAND_UPDATE,  // the Update/Finish button: see DecideUpdatePress
};
struct CommandDecision {
    CommandAction action;
    int endResult;  // COMMAND_END: 2 (Escape, close box), 3 (Cancel)
};
CommandDecision DecideCommand(std::uintptr_t wParam);

// A press of Update/Finish. The dialog disables Update itself before it starts a worker, and
// only a worker enables it again: after a blocked run (a listed application was running) or at
// the completion, where it sets g_done first.
enum UpdatePress {
    PRESS_FINISH,       // g_done set: end the dialog with result 1
    PRESS_IGNORE,       // a run is under way (Update disabled), or the last run stopped
                        // without giving Update back: no second worker
    PRESS_START,        // disable Update, start a worker
    PRESS_AWAIT_START,  // the last worker gave Update back but has not quite ended: wait for
                        // it (it touches nothing more), then start as PRESS_START; if it does
                        // not end within the wait, ignore the press
};
UpdatePress DecideUpdatePress(int done, int updateEnabled, int workerAlive);
