// SPDX-License-Identifier: MIT
#include "ui/command_line.h"

namespace {

int IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// The next argument after `*cursor` into `word` (capacity characters), quotes removed. 0 when
// there is none; a word too long is cut, which makes it no switch and no usable path.
int NextWord(const wchar_t** cursor, wchar_t* word, std::size_t capacity, int* cut) {
    const wchar_t* at = *cursor;
    while (IsBlank(*at)) ++at;
    if (*at == L'\0') return 0;
    std::size_t length = 0;
    int quoted = 0;
    *cut = 0;
    for (; *at && (quoted || !IsBlank(*at)); ++at) {
        if (*at == L'"') {
            quoted = !quoted;
            continue;
        }
        if (length + 1 < capacity)
            word[length++] = *at;
        else
            *cut = 1;
    }
    word[length] = L'\0';
    *cursor = at;
    return 1;
}

wchar_t Lower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c; }

// 1 when `word` equals `name` in any ASCII case.
int Is(const wchar_t* word, const wchar_t* name) {
    for (; *word && *name; ++word, ++name)
        if (Lower(*word) != *name) return 0;
    return *word == *name;
}

// 1 when `word` begins with `name` in any ASCII case; `*rest` is what follows.
int Begins(const wchar_t* word, const wchar_t* name, const wchar_t** rest) {
    for (; *name; ++word, ++name)
        if (Lower(*word) != *name) return 0;
    *rest = word;
    return 1;
}

int SetLog(CommandLine* parsed, const wchar_t* path, int cut) {
    if (cut || path[0] == L'\0') return 0;
    std::size_t i = 0;
    for (; path[i]; ++i) parsed->logPath[i] = path[i];
    parsed->logPath[i] = L'\0';
    return 1;
}

UiMode Quieter(UiMode a, UiMode b) { return a > b ? a : b; }

// Not valid because of `word`: the first such word is kept for the log.
void Refuse(CommandLine* parsed, const wchar_t* word) {
    parsed->valid = 0;
    if (parsed->badSwitch[0]) return;
    std::size_t i = 0;
    for (; word[i] && i + 1 < sizeof parsed->badSwitch / sizeof parsed->badSwitch[0]; ++i)
        parsed->badSwitch[i] = word[i];
    parsed->badSwitch[i] = L'\0';
}

}  // namespace

int ParseCommandLine(const wchar_t* line, CommandLine* parsed) {
    parsed->valid = 1;
    parsed->usage = 0;
    parsed->mode = UI_FULL;
    parsed->noRestart = 0;
    parsed->logPath[0] = L'\0';
    parsed->badSwitch[0] = L'\0';
    if (!line) return 1;

    wchar_t word[LOG_PATH_SIZE];
    int cut = 0;
    const wchar_t* cursor = line;
    NextWord(&cursor, word, LOG_PATH_SIZE, &cut);  // the program's own name
    while (NextWord(&cursor, word, LOG_PATH_SIZE, &cut)) {
        const wchar_t* name = word + 1;
        const wchar_t* rest = nullptr;
        if (cut || (word[0] != L'/' && word[0] != L'-')) {
            Refuse(parsed, word);
        } else if (Is(name, L"quiet") || Is(name, L"q") || Is(name, L"qn") || Is(name, L"s")) {
            parsed->mode = Quieter(parsed->mode, UI_QUIET);
        } else if (Is(name, L"passive") || Is(name, L"qb")) {
            parsed->mode = Quieter(parsed->mode, UI_PASSIVE);
        } else if (Is(name, L"norestart")) {
            parsed->noRestart = 1;
        } else if (Is(name, L"?")) {
            parsed->usage = 1;
        } else if (Begins(name, L"log=", &rest) || Begins(name, L"l*v=", &rest)) {
            if (!SetLog(parsed, rest, 0)) Refuse(parsed, word);
        } else if (Is(name, L"log") || Is(name, L"l*v")) {
            wchar_t given[8];
            int i = 0;
            for (; word[i] && i < 7; ++i) given[i] = word[i];
            given[i] = L'\0';
            int have = NextWord(&cursor, word, LOG_PATH_SIZE, &cut);
            if (!have || !SetLog(parsed, word, cut)) Refuse(parsed, given);
        } else {
            Refuse(parsed, word);
        }
    }
    return parsed->valid;
}
