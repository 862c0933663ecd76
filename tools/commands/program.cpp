// SPDX-License-Identifier: MIT
// tidepack program INPUT -o Patch.exe [--stub FILE] [--best] [SIGNING]
#include "commands/command_line.h"
#include "commands/tidepack.h"
#include "program/patch_program.h"

int MakeProgram(const ProgramOptions& options, std::FILE* out, std::FILE* err) {
    Report report = PrintingReport(out, err);
    PatchProgram made;
    Outcome outcome = MakePatchProgram(options, &made, &report);
    if (outcome == Outcome::Done) outcome = WritePatchProgram(options, made, err, &report);
    return ExitCode(outcome);
}

int RunProgramCommand(const std::vector<std::string>& args) {
    ProgramOptions program;
    SignOptions& signing = program.sign;
    bool passwordGiven = false, pinGiven = false, timeoutGiven = false;
    std::vector<std::string> operands;
    int done = ParseArguments(
        args,
        [&](const std::vector<std::string>& args, std::size_t* i, std::string* error) {
            const std::string& arg = args[*i];
            std::string value;
            const std::pair<const char*, std::string*> VALUES[] = {
                {"--stub", &program.stub},
                {"--sign", &signing.pkcs12},
                {"--sign-pkcs11", &signing.pkcs11Module},
                {"--sign-command", &signing.command},
                {"--key", &signing.keyUri},
                {"--cert", &signing.certChain},
            };
            for (const auto& [name, target] : VALUES)
                if (TakeValue(args, i, name, target, error)) return true;
            if (TakeValue(args, i, "--password-file", &value, error) ||
                TakeValue(args, i, "--pin-file", &value, error)) {
                (arg.compare(0, 5, "--pin") == 0 ? pinGiven : passwordGiven) = true;
                signing.passwordFile = value;
                return true;
            }
            if (TakeValue(args, i, "--password-env", &value, error) ||
                TakeValue(args, i, "--pin-env", &value, error)) {
                (arg.compare(0, 5, "--pin") == 0 ? pinGiven : passwordGiven) = true;
                signing.passwordEnv = value;
                return true;
            }
            if (TakeValue(args, i, "--sign-description", &signing.description, error) ||
                TakeValue(args, i, "--sign-url", &signing.url, error) ||
                TakeValue(args, i, "--timestamp", &signing.timestampUrl, error))
                return true;
            if (TakeValue(args, i, "--sign-timeout", &value, error)) {
                unsigned long number = 0;
                if (error->empty() && !ParseNumber(value, 86400, &number))
                    *error = "--sign-timeout needs a number of seconds from 1 to 86400";
                signing.timeoutSeconds = static_cast<unsigned>(number);
                timeoutGiven = true;
                return true;
            }
            if (arg == "--verbose") return signing.verbose = true;
            return TakeOutput(args, i, &program.output, error) ||
                   TakeCompression(arg, &program.compression);
        },
        &operands);
    if (done >= 0) return done;
    if (operands.size() != 1) return Usage("program needs exactly one manifest or package");
    if (program.output.empty()) return Usage("program needs -o Patch.exe");
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
    program.progress = TerminalProgress();
    return MakeProgram(program, stdout, stderr);
}
