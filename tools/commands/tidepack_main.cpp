// tidepack: builds, lists and verifies patch packages for the update program.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "authoring/code_page.h"
#include "commands/tidepack.h"
#include "system/files.h"

#ifndef TIDEPACK_VERSION
#define TIDEPACK_VERSION "0"
#endif

namespace {

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
    "      with each file's target. Targets resolve against DIR (default: defaultFolder),\n"
    "      C:\\WINDOWS and C:\\WINDOWS\\system32. Texts are decoded from code page N\n"
    "      (default 932). A signed program's signer is named; a broken signature makes\n"
    "      the exit status 1.\n"
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
    "  verify [--codepage N] FILE\n"
    "      Check every bound, stream, text and table of a package or patch program, and a\n"
    "      program's Authenticode signature: the signer, and whether it still holds.\n"
    "  diff OLD_DIR NEW_DIR [-o MANIFEST [--force]]\n"
    "      Write a starting manifest with the files of NEW_DIR that are new or changed.\n"
    "      An existing MANIFEST is replaced only with --force.\n"
    "  program INPUT -o Patch.exe [--stub FILE] [--best] [SIGNING]\n"
    "      Write INPUT (a manifest .toml, or a package) into a copy of the update program\n"
    "      as its RCDATA 1, with the execution level its registryKey's root needs (the\n"
    "      manifest's executionLevel, when given, instead). The update program is\n"
    "      ../share/tidewell/Tidewell.exe beside tidepack unless --stub names another.\n"
    "      A manifest's [program] table sets its version block and icon. -o never\n"
    "      replaces any file the run reads.\n"
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

// Edits (insert, delete, change, swap two neighbours) from `a` to `b`.
std::size_t Distance(const std::string& a, const std::string& b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i)
        for (std::size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                                d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
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

// plan's folders and switches.
bool TakePlanOption(const std::vector<std::string>& args, std::size_t* i, PlanOptions* plan,
                    std::string* error) {
    PlanFolders& folders = plan->folders;
    const std::pair<const char*, std::string*> FOLDERS[] = {
        {"--install-dir", &folders.installDir},   {"--windows-dir", &folders.windowsDir},
        {"--system-dir", &folders.systemDir},     {"--program-menu", &folders.programMenu},
        {"--desktop", &folders.desktop},          {"--start-menu", &folders.startMenu},
        {"--startup-menu", &folders.startUpMenu}, {"--app-data", &folders.appData},
    };
    for (const auto& [name, value] : FOLDERS)
        if (TakeValue(args, i, name, value, error)) return true;
    if (args[*i] == "--json") return plan->json = true;
    if (args[*i] == "--strict") return plan->strict = true;
    return false;
}

}  // namespace

int RunTidepack(const std::vector<std::string>& args) {
    if (args.empty()) return Usage("no command given");
    const std::string command = args[0];
    if (command == "--help" || command == "-h") {
        std::fputs(USAGE, stdout);
        return 0;
    }
    if (command == "--version") {
        std::printf("tidepack %s\n", TIDEPACK_VERSION);
        return 0;
    }

    std::vector<std::string> commands = Commands();
    if (std::find(commands.begin(), commands.end(), command) == commands.end()) {
        std::string nearest;
        for (const std::string& known : commands)
            if (Distance(command, known) <= 2 &&
                (nearest.empty() || Distance(command, known) < Distance(command, nearest)))
                nearest = known;
        return Usage("unknown command '" + command + "'" +
                     (nearest.empty() ? "" : "; did you mean '" + nearest + "'?"));
    }

    ListOptions list;
    PlanOptions plan;
    BuildOptions build;
    ProgramOptions program;
    std::string output, error;
    bool force = false;
    std::vector<std::string> operands;
    bool passwordGiven = false, pinGiven = false, timeoutGiven = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string value;
        if (arg == "--help" || arg == "-h") {
            std::fputs(CommandHelp(command).c_str(), stdout);
            return 0;
        }
        if (arg == "--") {
            operands.insert(operands.end(), args.begin() + static_cast<long>(i) + 1, args.end());
            break;
        }
        bool taken = false;
        if ((command == "list" || command == "verify" || command == "plan") &&
            TakeValue(args, &i, "--codepage", &value, &error)) {
            unsigned long number = 0;
            if (error.empty() &&
                (!ParseNumber(value, 65535, &number) || !CodePageKnown(static_cast<int>(number))))
                error =
                    "--codepage needs a Windows ANSI code page: 874, 932, 936, 949, 950 or "
                    "1250 to 1258";
            list.codePage = plan.folders.codePage = static_cast<int>(number);
            taken = true;
        } else if (command == "plan" && TakePlanOption(args, &i, &plan, &error)) {
            taken = true;
        } else if (command == "list" && TakeValue(args, &i, "--install-dir", &value, &error)) {
            list.haveInstallDir = true;
            list.installDir = value;
            taken = true;
        } else if (command == "list" && TakeValue(args, &i, "--windows-dir", &value, &error)) {
            list.windowsDir = value;
            taken = true;
        } else if (command == "list" && TakeValue(args, &i, "--system-dir", &value, &error)) {
            list.systemDir = value;
            taken = true;
        } else if (command == "program" && TakeValue(args, &i, "--stub", &value, &error)) {
            program.stub = value;
            taken = true;
        } else if (command == "program" && TakeValue(args, &i, "--sign", &value, &error)) {
            program.sign.pkcs12 = value;
            taken = true;
        } else if (command == "program" && TakeValue(args, &i, "--sign-pkcs11", &value, &error)) {
            program.sign.pkcs11Module = value;
            taken = true;
        } else if (command == "program" && TakeValue(args, &i, "--sign-command", &value, &error)) {
            program.sign.command = value;
            taken = true;
        } else if (command == "program" && TakeValue(args, &i, "--key", &value, &error)) {
            program.sign.keyUri = value;
            taken = true;
        } else if (command == "program" && TakeValue(args, &i, "--cert", &value, &error)) {
            program.sign.certChain = value;
            taken = true;
        } else if (command == "program" &&
                   (TakeValue(args, &i, "--password-file", &value, &error) ||
                    TakeValue(args, &i, "--pin-file", &value, &error))) {
            (arg.compare(0, 5, "--pin") == 0 ? pinGiven : passwordGiven) = true;
            program.sign.passwordFile = value;
            taken = true;
        } else if (command == "program" && (TakeValue(args, &i, "--password-env", &value, &error) ||
                                            TakeValue(args, &i, "--pin-env", &value, &error))) {
            (arg.compare(0, 5, "--pin") == 0 ? pinGiven : passwordGiven) = true;
            program.sign.passwordEnv = value;
            taken = true;
        } else if (command == "program" &&
                   TakeValue(args, &i, "--sign-description", &value, &error)) {
            program.sign.description = value;
            taken = true;
        } else if (command == "program" && TakeValue(args, &i, "--sign-url", &value, &error)) {
            program.sign.url = value;
            taken = true;
        } else if (command == "program" && TakeValue(args, &i, "--timestamp", &value, &error)) {
            program.sign.timestampUrl = value;
            taken = true;
        } else if (command == "program" && TakeValue(args, &i, "--sign-timeout", &value, &error)) {
            unsigned long number = 0;
            if (error.empty() && !ParseNumber(value, 86400, &number))
                error = "--sign-timeout needs a number of seconds from 1 to 86400";
            program.sign.timeoutSeconds = static_cast<unsigned>(number);
            timeoutGiven = true;
            taken = true;
        } else if (command == "program" && arg == "--verbose") {
            program.sign.verbose = true;
            taken = true;
        } else if ((command == "build" || command == "diff" || command == "program") &&
                   (TakeValue(args, &i, "-o", &value, &error) ||
                    TakeValue(args, &i, "--output", &value, &error))) {
            output = value;
            taken = true;
        } else if ((command == "build" || command == "program") &&
                   (arg == "--best" || arg == "--zopfli")) {
            // zopfli alone never beat --best; vendors' scripts may still pass --zopfli.
            if (arg == "--zopfli")
                std::fprintf(stderr,
                             "tidepack: --zopfli is deprecated; it is taken for --best, which "
                             "keeps zopfli's stream wherever it is the smaller\n");
            build.compression = program.compression = Compression::Best;
            taken = true;
        } else if (command == "diff" && arg == "--force") {
            force = true;
            taken = true;
        } else if (command == "build" && TakeValue(args, &i, "--threads", &value, &error)) {
            unsigned long number = 0;
            if (error.empty() && !ParseNumber(value, 1024, &number))
                error = "--threads needs a number from 1 to 1024";
            build.threads = static_cast<unsigned>(number);
            taken = true;
        }
        if (!error.empty()) return Usage(error);
        if (taken) continue;
        if (arg.size() > 1 && arg[0] == '-')
            return Usage("unknown option '" + arg + "' for " + command);
        operands.push_back(arg);
    }

    if (command == "list" || command == "verify") {
        if (operands.size() != 1) return Usage(command + " needs exactly one package or program");
        list.path = operands[0];
        return command == "list" ? ListPackage(list, stdout, stderr)
                                 : VerifyPackage(list, stdout, stderr);
    }
    if (command == "plan") {
        if (operands.size() != 1) return Usage("plan needs exactly one package or program");
        if (plan.folders.installDir.empty()) return Usage("plan needs --install-dir DIR");
        plan.path = operands[0];
        return PlanPatch(plan, stdout, stderr);
    }
    if (command == "build") {
        if (operands.size() != 1) return Usage("build needs exactly one manifest");
        if (output.empty()) return Usage("build needs -o PACKAGE");
        build.manifest = operands[0];
        build.output = output;
        build.progress = ErrorsToTerminal();
        return BuildFromManifest(build, stdout, stderr);
    }
    if (command == "program") {
        if (operands.size() != 1) return Usage("program needs exactly one manifest or package");
        if (output.empty()) return Usage("program needs -o Patch.exe");
        const SignOptions& sign = program.sign;
        bool keyFile = !sign.pkcs12.empty(), token = !sign.pkcs11Module.empty();
        if (keyFile + token + !sign.command.empty() > 1)
            return Usage("sign with one of --sign, --sign-pkcs11 and --sign-command");
        if (!keyFile && passwordGiven)
            return Usage("--password-file and --password-env go with --sign");
        if (!token && (pinGiven || !(sign.keyUri + sign.certChain).empty()))
            return Usage("--key, --cert, --pin-file and --pin-env go with --sign-pkcs11");
        if (!keyFile && !token && !sign.timestampUrl.empty())
            return Usage(
                "--timestamp goes with --sign or --sign-pkcs11; a signing command "
                "timestamps by itself");
        if (!keyFile && !token && !(sign.description + sign.url).empty())
            return Usage(
                "--sign-description and --sign-url go with --sign or --sign-pkcs11; a signing "
                "command names them itself");
        if (!sign.Signs() && (timeoutGiven || sign.verbose))
            return Usage("--sign-timeout and --verbose go with a signing option");
        if (token && (sign.keyUri.empty() || sign.certChain.empty()))
            return Usage("--sign-pkcs11 needs --key 'pkcs11:...' and --cert CHAIN.pem");
        if (!sign.passwordFile.empty() && !sign.passwordEnv.empty())
            return Usage(std::string("give the ") +
                         (pinGiven ? "PIN with --pin-file or --pin-env"
                                   : "password with --password-file "
                                     "or --password-env") +
                         ", not both");
        program.input = operands[0];
        program.output = output;
        program.progress = ErrorsToTerminal();
        return MakeProgram(program, stdout, stderr);
    }
    if (command == "diff") {
        if (operands.size() != 2) return Usage("diff needs OLD_DIR and NEW_DIR");
        if (force && output.empty()) return Usage("--force goes with -o MANIFEST");
        return DiffReleases(operands[0], operands[1], output, force, stdout, stderr);
    }
    return Usage("unknown command '" + command + "'");
}
