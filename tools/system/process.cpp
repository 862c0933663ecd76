// SPDX-License-Identifier: MIT
#include "system/process.h"

#include <cstring>

std::string ShellLine(Shell shell, const std::string& line, const std::string& path) {
    enum { BARE, SINGLE, DOUBLE } quoting = BARE;
    // sh: inside single quotes a ' ends them, so it is written as '\''.
    std::string inSingle;
    for (char p : path) inSingle += p == '\'' ? std::string("'\\''") : std::string(1, p);
    std::string inDouble;
    for (char p : path) inDouble += (p && std::strchr("\"\\$`", p) ? "\\" : "") + std::string(1, p);
    std::string result;
    for (std::size_t k = 0; k < line.size(); ++k) {
        char c = line[k];
        if (c == '%' && k + 1 < line.size() && (line[k + 1] == '1' || line[k + 1] == '%')) {
            if (line[++k] == '%')
                result += '%';
            else if (shell == Shell::Cmd)  // a Windows path holds no '"'
                result += quoting == DOUBLE ? path : "\"" + path + "\"";
            else
                result += quoting == SINGLE   ? inSingle
                          : quoting == DOUBLE ? inDouble
                                              : "'" + inSingle + "'";
            continue;
        }
        result += c;
        // What escapes the next character: sh's backslash outside single quotes, cmd's caret
        // outside double quotes.
        bool escape =
            shell == Shell::Posix ? c == '\\' && quoting != SINGLE : c == '^' && quoting != DOUBLE;
        if (escape && k + 1 < line.size() && line[k + 1] != '%')
            result += line[++k];
        else if (c == '"' && quoting != SINGLE)
            quoting = quoting == DOUBLE ? BARE : DOUBLE;
        else if (c == '\'' && shell == Shell::Posix && quoting != DOUBLE)
            quoting = quoting == SINGLE ? BARE : SINGLE;
    }
    return result;
}
