// SPDX-License-Identifier: MIT
// What the commands share of parsing their arguments and printing what the libraries say.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "authoring/build.h"
#include "commands/tidepack.h"
#include "system/report.h"

// tidepack's --help.
extern const char* const USAGE;

// The commands USAGE describes, and one command's paragraph of it.
std::vector<std::string> Commands();
std::string CommandHelp(const std::string& command);

// Says what is wrong with the command line on stderr. Returns EXIT_USAGE.
int Usage(const std::string& message);

// Takes the option at `args[*i]` when it is one of the command's, moving `*i` past its value;
// `error` says what is wrong with it.
using TakeOption =
    std::function<bool(const std::vector<std::string>& args, std::size_t* i, std::string* error)>;

// Walks `args` (the command's name first): --help, "--", the command's options by `take`, and
// the operands. Returns -1 when the command goes on with `operands`, else the exit code.
int ParseArguments(const std::vector<std::string>& args, const TakeOption& take,
                   std::vector<std::string>* operands);

// Splits "--name=value" and "--name value"; `i` moves past what was taken.
bool TakeValue(const std::vector<std::string>& args, std::size_t* i, const std::string& name,
               std::string* value, std::string* error);
bool ParseNumber(const std::string& text, unsigned long limit, unsigned long* number);

// Options more than one command takes.
bool TakeCodePage(const std::vector<std::string>& args, std::size_t* i, int* codePage,
                  std::string* error);
bool TakeOutput(const std::vector<std::string>& args, std::size_t* i, std::string* output,
                std::string* error);
bool TakeCompression(const std::string& arg, Compression* compression);

// A report printed as it is said, on `out` and `err`.
Report PrintingReport(std::FILE* out, std::FILE* err);

// A progress line on stderr when it is a terminal; else none.
Progress TerminalProgress();

int ExitCode(Outcome outcome);
