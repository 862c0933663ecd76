// SPDX-License-Identifier: MIT
// The restart's pending renames, for the replace on Windows.
#pragma once

// Once a newer file is in place at `target`: takes out every rename or deletion an earlier run
// left for it at the next restart, and deletes the staged copies those would have moved, so that
// the boot never puts an older file back over it.
void SupersedeRestartRenames(const char* target);
