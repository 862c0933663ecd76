// SPDX-License-Identifier: MIT
// What a library says back instead of printing: its results and its messages, line by line in
// the order said, and how the request ended. The commands print them and choose exit codes.
#pragma once

#include <functional>
#include <string>
#include <vector>

#ifdef __MINGW32__
#define TIDEPACK_PRINTF(text, first) __attribute__((format(gnu_printf, text, first)))
#else
#define TIDEPACK_PRINTF(text, first) __attribute__((format(printf, text, first)))
#endif

// Done: it did what was asked. Faulty: the input has a fault. Refused: the request itself
// cannot be carried out as given (an output that would replace an input, a folder that is not).
enum class Outcome { Done, Faulty, Refused };

class Report {
public:
    enum Stream { ToOut, ToErr };
    struct Line {
        Stream stream;
        std::string text;  // as printed, its newline included
    };

    // Results (Out) and warnings and faults (Err), printf-style.
    void Out(const char* format, ...) TIDEPACK_PRINTF(2, 3);
    void Err(const char* format, ...) TIDEPACK_PRINTF(2, 3);

    // Each line as it is said, so that a long run shows its messages while it goes on and
    // among what other code prints; without it, they are kept in `lines`.
    std::function<void(Stream, const std::string&)> heard;
    std::vector<Line> lines;

private:
    void Say(Stream stream, std::string text);
};

// The progress of a long run, one line at a time, for a terminal; empty: none wanted.
using Progress = std::function<void(const std::string&)>;
