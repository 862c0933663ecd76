// SPDX-License-Identifier: MIT
#include "commands/command_line.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "authoring/code_page.h"
#include "system/files.h"

const char* const USAGE =
    "usage: tidepack COMMAND [OPTIONS] ...\n"
    "\n"
    "commands:\n"
    "  build MANIFEST -o PACKAGE [--best] [--threads N]\n"
    "      Validate the manifest and build the package. Nothing is written when the manifest\n"
    "      has a fault; the package appears whole or not at all. Streams are libdeflate's at\n"
    "      level 12; --best also tries zopfli and keeps the smaller per file (much slower).\n"
    "      Every stream is zlib's format and is checked to inflate with zlib. --zopfli is\n"
    "      taken for --best.\n"
    "  list [--install-dir DIR] [--windows-dir DIR] [--system-dir DIR] [--codepage N] FILE\n"
    "      Print every record of a package, or of the package inside a built patch program,\n"
    "      with each file's target, and what the customer sees of a program: its title,\n"
    "      dialog texts, execution level and manifest name. Targets resolve against DIR\n"
    "      (default: defaultFolder), C:\\WINDOWS and C:\\WINDOWS\\system32. Texts are\n"
    "      decoded from code page N (default 932). A signed program's signer is named; a\n"
    "      broken signature makes the exit status 1.\n"
    "  plan FILE --install-dir DIR [--json] [--strict] [--codepage N] [FOLDERS]\n"
    "      What a package or patch program would do to DIR, a copy of an installed\n"
    "      product on this machine, worked out by the update program's own rules over\n"
    "      the files there: each file replaced, kept by the version rule (with both\n"
    "      product versions), added, or skipped (folder missing, no known placeholder,\n"
    "      target too long); the shortcuts it would create; the moves. FOLDERS are\n"
    "      paths here: --windows-dir and --system-dir (default C:\\WINDOWS and\n"
    "      C:\\WINDOWS\\system32, as for list); --program-menu, --desktop,\n"
    "      --start-menu, --startup-menu and --app-data (default: the tag stands for its\n"
    "      folder). --json prints one JSON document; --strict makes the exit status 1\n"
    "      when any file would be skipped.\n"
    "  verify [--codepage N] [--require-signature] FILE\n"
    "      Check every bound, stream, text and table of a package or patch program, and a\n"
    "      program's Authenticode signature: the signer, and whether it still holds.\n"
    "      --require-signature makes an unsigned program (or a package) a fault.\n"
    "  diff OLD_DIR NEW_DIR [-o MANIFEST [--force]]\n"
    "      Write a starting manifest with the files of NEW_DIR that are new or changed.\n"
    "      An existing MANIFEST is replaced only with --force.\n"
    "  program INPUT -o Patch.exe [--stub FILE] [--best] [SIGNING]\n"
    "      Write INPUT (a manifest .toml, or a package) into a copy of the update program\n"
    "      as its RCDATA 1, with the execution level its registryKey's root needs (the\n"
    "      manifest's executionLevel, when given, instead). The update program is\n"
    "      ../share/tidewell/Tidewell.exe beside tidepack unless --stub names another.\n"
    "      A manifest's [program] table sets its version block, icon, dialog texts and\n"
    "      manifest name; a package carries none. -o never replaces any file the run reads.\n"
    "      SIGNING, one of:\n"
    "        --sign KEY.p12 [--password-file FILE | --password-env VAR] [--timestamp URL]\n"
    "          Authenticode SHA-256 by osslsigncode with the certificate and key in KEY.p12,\n"
    "          whose password is FILE's first line or VAR's value.\n"
    "        --sign-pkcs11 MODULE --key 'pkcs11:...' --cert CHAIN.pem\n"
    "                     [--pin-file FILE | --pin-env VAR] [--timestamp URL]\n"
    "          The same with a key on a token or HSM, through its PKCS#11 MODULE and\n"
    "          OpenSSL's PKCS#11 engine; CHAIN.pem holds the signer's certificate chain.\n"
    "        --sign-command 'CMD ... %1'\n"
    "          Runs CMD through the shell with %1 as the program's path (%% for a %),\n"
    "          expecting it signed in place.\n"
    "      --sign-description TEXT and --sign-url URL (or signDescription and signUrl in\n"
    "      [program]) name the signed program, as Windows shows it when asked to run it.\n"
    "      With --timestamp, a timestamp from that RFC 3161 server is added. The password\n"
    "      or PIN is never put on a command line. Signing is stopped after --sign-timeout\n"
    "      seconds (default 300). The signed program is checked: every signature holds, over\n"
    "      the program tidepack wrote. --verbose shows osslsigncode's own messages. list and\n"
    "      verify name each signer.\n"
    "\n"
    "  --help       this text\n"
    "  --version    tidepack's version\n"
    "\n"
    "Exit status: 0 on success, 1 when the input has a fault, 2 for bad usage.\n";

// The commands USAGE describes: each starts a line of its own, two blanks in.
std::vector<std::string> Commands() {
    std::vector<std::string> names;
    for (const char* line = std::strstr(USAGE, "commands:\n"); line;
         line = std::strchr(line, '\n')) {
        ++line;
        if (line[0] == ' ' && line[1] == ' ' && line[2] >= 'a' && line[2] <= 'z')
            names.emplace_back(line + 2, std::strcspn(line + 2, " \n"));
        if (line[0] == '\n') break;
    }
    return names;
}

// USAGE's paragraph of one command, as `tidepack COMMAND --help` prints it.
std::string CommandHelp(const std::string& command) {
    std::string text(USAGE), start = "\n  " + command + " ";
    std::size_t at = text.find(start);
    if (at == std::string::npos) return USAGE;
    std::size_t end = at + start.size();
    while ((end = text.find('\n', end)) != std::string::npos && end + 3 < text.size() &&
           text.compare(end + 1, 3, "   ") == 0)
        ++end;
    std::string help = "usage: tidepack " + text.substr(at + 3, end - at - 2);
    std::size_t exit = text.find("Exit status:");
    return help + "\n" + (exit == std::string::npos ? "" : text.substr(exit));
}

int Usage(const std::string& message) {
    std::fprintf(stderr, "tidepack: %s\nTry 'tidepack --help'.\n", message.c_str());
    return EXIT_USAGE;
}

// Splits "--name=value" and "--name value"; `i` moves past what was taken.
bool TakeValue(const std::vector<std::string>& args, std::size_t* i, const std::string& name,
               std::string* value, std::string* error) {
    const std::string& arg = args[*i];
    if (arg.compare(0, name.size() + 1, name + "=") == 0) {
        *value = arg.substr(name.size() + 1);
        return true;
    }
    if (arg != name) return false;
    if (*i + 1 >= args.size()) {
        *error = name + " needs a value";
        return true;
    }
    *value = args[++*i];
    return true;
}

bool ParseNumber(const std::string& text, unsigned long limit, unsigned long* number) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    *number = std::strtoul(text.c_str(), nullptr, 10);
    return errno == 0 && *number > 0 && *number <= limit;
}

bool TakeCodePage(const std::vector<std::string>& args, std::size_t* i, int* codePage,
                  std::string* error) {
    std::string value;
    if (!TakeValue(args, i, "--codepage", &value, error)) return false;
    unsigned long number = 0;
    if (error->empty() &&
        (!ParseNumber(value, 65535, &number) || !CodePageKnown(static_cast<int>(number))))
        *error =
            "--codepage needs a Windows ANSI code page: 874, 932, 936, 949, 950 or "
            "1250 to 1258";
    *codePage = static_cast<int>(number);
    return true;
}

bool TakeOutput(const std::vector<std::string>& args, std::size_t* i, std::string* output,
                std::string* error) {
    return TakeValue(args, i, "-o", output, error) || TakeValue(args, i, "--output", output, error);
}

bool TakeCompression(const std::string& arg, Compression* compression) {
    if (arg != "--best" && arg != "--zopfli") return false;
    // zopfli alone never beat --best; vendors' scripts may still pass --zopfli.
    if (arg == "--zopfli")
        std::fprintf(stderr,
                     "tidepack: --zopfli is deprecated; it is taken for --best, which "
                     "keeps zopfli's stream wherever it is the smaller\n");
    *compression = Compression::Best;
    return true;
}

int ParseArguments(const std::vector<std::string>& args, const TakeOption& take,
                   std::vector<std::string>* operands) {
    const std::string& command = args[0];
    std::string error;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(CommandHelp(command).c_str(), stdout);
            return 0;
        }
        if (arg == "--") {
            operands->insert(operands->end(), args.begin() + static_cast<long>(i) + 1, args.end());
            break;
        }
        bool taken = take(args, &i, &error);
        if (!error.empty()) return Usage(error);
        if (taken) continue;
        if (arg.size() > 1 && arg[0] == '-')
            return Usage("unknown option '" + arg + "' for " + command);
        operands->push_back(arg);
    }
    return -1;
}

Report PrintingReport(std::FILE* out, std::FILE* err) {
    Report report;
    report.heard = [out, err](Report::Stream stream, const std::string& text) {
        std::fwrite(text.data(), 1, text.size(), stream == Report::ToOut ? out : err);
    };
    return report;
}

Progress TerminalProgress() {
    if (!ErrorsToTerminal()) return {};
    return [](const std::string& line) {
        std::fputs(line.c_str(), stderr);
        std::fflush(stderr);
    };
}

int ExitCode(Outcome outcome) {
    switch (outcome) {
        case Outcome::Done:
            return 0;
        case Outcome::Faulty:
            return EXIT_FAULT;
        case Outcome::Refused:
            break;
    }
    return EXIT_USAGE;
}
