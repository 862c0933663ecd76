// SPDX-License-Identifier: MIT
#include "signing/sign.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "authoring/package_file.h"
#include "program/pe_resource.h"
#include "signing/signature_seam.h"
#include "system/files.h"
#include "system/process.h"

namespace fs = std::filesystem;

namespace {

// osslsigncode reads at most 4095 bytes of a password.
constexpr std::size_t PASSWORD_LIMIT = 4000;

// The folder SignProgram made (or a file in it), gone however it returns.
struct Scratch {
    std::string folder;
    ~Scratch() {
        std::error_code code;
        if (!folder.empty()) fs::remove_all(fs::u8path(folder), code);
    }
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = std::min(text.find('\n', start), text.size());
        std::string line = text.substr(start, end - start);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        if (!line.empty()) lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// The last `count` lines of `text`, quoted, for an error that must stay one line.
std::string LastLines(const std::string& text, std::size_t count) {
    std::vector<std::string> lines = Lines(text);
    if (lines.empty()) return "it printed nothing";
    std::string said = lines.size() > count ? "its last lines: " : "it printed: ";
    for (std::size_t k = lines.size() > count ? lines.size() - count : 0; k < lines.size(); ++k)
        said += (said.back() == ' ' ? "\"" : " / \"") + lines[k] + "\"";
    return said;
}

// osslsigncode's own last line: not its "Failed", nor libcrypto's error queue after it
// ("40C0...:error:1180...:PKCS12 routines:...").
std::string OwnLastLine(const std::string& text) {
    std::vector<std::string> lines = Lines(text);
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        std::size_t colon = line->find(":error:");
        bool queue = colon != std::string::npos && colon > 0 &&
                     line->find_first_not_of("0123456789ABCDEFabcdef") == colon;
        if (!queue && *line != "Failed") return *line;
    }
    return "";
}

// One line for why osslsigncode failed, from what it printed.
std::string SigningFault(const SignOptions& options, const RunResult& run) {
    const std::string& said = run.output;
    auto has = [&said](const char* text) { return said.find(text) != std::string::npos; };
    bool token = !options.pkcs11Module.empty();
    std::string key = token ? "the token's key " + options.keyUri : options.pkcs12;
    std::string secret = token ? "PIN" : "password";
    std::string given =
        token ? "--pin-file FILE or --pin-env VAR" : "--password-file FILE or --password-env VAR";
    std::string value;
    bool none = options.passwordFile.empty() &&
                (options.passwordEnv.empty() || !GetEnvironment(options.passwordEnv, &value) ||
                 value.empty());
    if (run.notFound) return OSSLSIGNCODE_MISSING;
    if (!run.startError.empty()) return "cannot run osslsigncode: " + run.startError;
    if (run.timedOut)
        return "osslsigncode did not finish within " + std::to_string(options.timeoutSeconds) +
               " s (--sign-timeout); stopped it";
    if (has("No PIN code was entered") ||
        ((has("mac verify failure") || has("PIN incorrect")) && none))
        return "no " + secret + " given for " + key + "; give it with " + given;
    if (has("mac verify failure") || has("PIN incorrect")) return "wrong " + secret + " for " + key;
    if (has("PIN locked")) return "the token's PIN is locked; its security officer can unlock it";
    if (has("Failed to extract PKCS#12") ||
        (has("Failed to parse PKCS#12") && !has("Wrong password")))
        return options.pkcs12 + " is not a PKCS#12 file";
    if (has("private key was not found") || has("object not found"))
        return "no private key at " + options.keyUri +
               " on the token (p11tool --list-all or pkcs11-tool -O lists what it holds)";
    if (has("key values mismatch") || has("KEY_VALUES_MISMATCH"))
        return (token ? key + " and the certificate in " + options.certChain
                      : "the key and the certificate in " + options.pkcs12) +
               " do not belong together: give the certificate issued for this key";
    if (has("Unable to load PKCS#11 module"))
        return "the PKCS#11 module " + options.pkcs11Module +
               " cannot be loaded: give the token maker's module for this system";
    if (has("dynamic_load:dso not found"))
        return std::string("OpenSSL's PKCS#11 engine cannot be loaded: install ") +
               PKCS11_ENGINE_PACKAGE;
    // libcrypto's HTTP client: "...:received error:...:code=500, reason=Internal Server Error".
    std::size_t refused = said.find("received error:");
    std::size_t code = refused == std::string::npos ? refused : said.find("code=", refused);
    if (!options.timestampUrl.empty() && code != std::string::npos)
        return "the timestamp server " + options.timestampUrl + " refused the request (HTTP " +
               said.substr(code + 5, said.find_first_not_of("0123456789", code + 5) - code - 5) +
               ")";
    if (!options.timestampUrl.empty() && (has("HTTP failure") || has("Failed to get data from")))
        return "the timestamp server " + options.timestampUrl + " could not be reached";
    if (!options.timestampUrl.empty() && has("timestamping failed"))
        return "the timestamp server " + options.timestampUrl + " gave no timestamp";
    std::string last = OwnLastLine(said);
    std::string status = run.signal ? "ended by signal " + std::to_string(run.signal)
                                    : "exit status " + std::to_string(run.status);
    return "osslsigncode could not sign the program (" + status + ")" +
           (last.empty() ? "" : ": " + last);
}

}  // namespace

int CheckSignOptions(const SignOptions& options, std::string* error) {
    // Each named with the option that gave it, as a vendor's CI log shows only the message.
    bool token = !options.pkcs11Module.empty();
    const std::pair<const char*, const std::string&> files[] = {
        {"--sign", options.pkcs12},
        {token ? "--pin-file" : "--password-file", options.passwordFile},
        {"--sign-pkcs11", options.pkcs11Module},
        {"--cert", options.certChain}};
    for (const auto& [option, file] : files) {
        std::string why;
        if (!file.empty() && !CanRead(file, &why)) {
            *error = std::string(option) + " " + file + ": " + why;
            return 0;
        }
    }
    if (!options.passwordEnv.empty()) {
        std::string password;
        if (!GetEnvironment(options.passwordEnv, &password)) {
            *error = "the environment variable " + options.passwordEnv + " is not set";
            return 0;
        }
        if (password.size() > PASSWORD_LIMIT) {
            *error = "the password in " + options.passwordEnv + " is longer than " +
                     std::to_string(PASSWORD_LIMIT) + " bytes";
            return 0;
        }
    }
    if (!options.command.empty()) {
        if (ShellLine(Shell::Posix, options.command, "") ==
            ShellLine(Shell::Posix, options.command, "x")) {
            *error = "the signing command has no %1 where the program's path goes";
            return 0;
        }
        return 1;
    }
    if (!options.pkcs11Module.empty()) {
        if (options.keyUri.compare(0, 7, "pkcs11:") != 0) {
            *error =
                "--key needs the token's key as a pkcs11: URI (p11tool --list-all or "
                "pkcs11-tool -O shows it)";
            return 0;
        }
        // Another process could read it there, as it could any argument.
        if (options.keyUri.find("pin-value=") != std::string::npos) {
            *error = "the key's URI holds the PIN; give it with --pin-file or --pin-env instead";
            return 0;
        }
        if (ChainSubjects(options.certChain).empty()) {
            *error = options.certChain +
                     ": no PEM certificate in it (--cert takes the signer's "
                     "certificate chain as PEM)";
            return 0;
        }
        std::string engine = Pkcs11Engine(), why;
        if (engine.empty()) {
            *error = OSSLSIGNCODE_MISSING;
            return 0;
        }
        if (!CanRead(engine, &why)) {
            *error = "the OpenSSL PKCS#11 engine is not installed at " + engine + " (" +
                     PKCS11_ENGINE_PACKAGE + ")";
            return 0;
        }
    }
    if (!OnPath("osslsigncode")) {
        *error = OSSLSIGNCODE_MISSING;
        return 0;
    }
    return 1;
}

std::vector<std::string> SignInputs(const SignOptions& options) {
    std::vector<std::string> inputs;
    for (const std::string& file :
         {options.pkcs12, options.passwordFile, options.pkcs11Module, options.certChain})
        if (!file.empty()) inputs.push_back(file);
    // Words as either shell splits them closely enough to name a file: blanks end a word
    // outside quotes, and the quotes go.
    std::string word;
    bool inWord = false;
    char quote = 0;
    auto take = [&] {
        std::error_code code;
        if (inWord && word.find("%1") == std::string::npos &&
            fs::is_regular_file(fs::u8path(word), code))
            inputs.push_back(word);
        word.clear();
        inWord = false;
    };
    for (char c : options.command) {
        if (quote && c == quote) {
            quote = 0;
        } else if (!quote && (c == '"' || c == '\'')) {
            quote = c;
            inWord = true;
        } else if (!quote && (c == ' ' || c == '\t')) {
            take();
        } else {
            word += c;
            inWord = true;
        }
    }
    take();
    return inputs;
}

namespace {

// Runs the vendor's command on `path`. Returns "" with what it printed last in `ran`; else why
// it failed.
std::string RunSigningCommand(const SignOptions& options, const std::string& path, std::FILE* echo,
                              std::string* ran) {
    Command command;
    command.timeoutSeconds = options.timeoutSeconds;
    command.arguments = ShellArguments(options.command, path);
    command.terminal = true;
    command.echo = echo;
    RunResult run = Run(command);
    *ran = LastLines(run.output, 3);
    if (!run.startError.empty())
        return "cannot run " + command.arguments[0] + ": " + run.startError;
    if (run.timedOut)
        return "the signing command did not finish within " +
               std::to_string(options.timeoutSeconds) + " s (--sign-timeout) and was stopped; " +
               *ran;
    if (run.signal != 0)
        return "the signing command was ended by signal " + std::to_string(run.signal) + "; " +
               *ran;
    if (run.status != 0)
        return "the signing command failed with exit status " + std::to_string(run.status) + "; " +
               *ran;
    *ran = " (the signing command exited with status 0; " + *ran + ")";
    return "";
}

// Signs `in` into `out` with osslsigncode. Returns ""; else why it failed.
std::string RunOsslsigncode(const SignOptions& options, const std::string& in,
                            const std::string& out, std::FILE* echo) {
    Command command;
    command.timeoutSeconds = options.timeoutSeconds;
    command.arguments = {"osslsigncode", "sign"};
    if (!options.pkcs12.empty()) {
        command.arguments.insert(command.arguments.end(), {"-pkcs12", options.pkcs12});
    } else {
        command.arguments.insert(
            command.arguments.end(),
            {"-pkcs11engine", Pkcs11Engine(), "-pkcs11module", options.pkcs11Module, "-certs",
             options.certChain, "-key", options.keyUri});
        command.terminal = options.passwordFile.empty() && options.passwordEnv.empty();
    }
    command.arguments.insert(command.arguments.end(), {"-h", "sha256"});
    // The password or PIN reaches osslsigncode as a file it reads, never on its command line:
    // the given file, or a pipe on its stdin holding the variable's value. Where osslsigncode
    // cannot name its stdin (Windows), a file in the signing folder, which only this user can
    // open, holds the value while osslsigncode runs. osslsigncode passes it on to the engine as
    // the token's PIN.
    Scratch password;
    if (!options.passwordFile.empty()) {
        command.arguments.insert(command.arguments.end(), {"-readpass", options.passwordFile});
    } else if (!options.passwordEnv.empty()) {
        std::string value;
        GetEnvironment(options.passwordEnv, &value);
        if (!value.empty() && *STDIN_FILE_NAME) {
            command.input = value;
            command.hasInput = true;
            command.arguments.insert(command.arguments.end(), {"-readpass", STDIN_FILE_NAME});
        } else if (!value.empty()) {
            password.folder = (fs::u8path(in).parent_path() / "password").u8string();
            std::string error;
            if (!WriteFileWhole(password.folder, {value.begin(), value.end()}, &error))
                return "cannot hand the password to osslsigncode: " + error;
            command.arguments.insert(command.arguments.end(), {"-readpass", password.folder});
        }
        command.hidden = options.passwordEnv;
    }
    if (!options.description.empty())
        command.arguments.insert(command.arguments.end(), {"-n", options.description});
    if (!options.url.empty())
        command.arguments.insert(command.arguments.end(), {"-i", options.url});
    if (!options.timestampUrl.empty())
        command.arguments.insert(command.arguments.end(), {"-ts", options.timestampUrl});
    command.arguments.insert(command.arguments.end(), {"-in", in, "-out", out});
    command.echo = options.verbose ? echo : nullptr;
    RunResult run = Run(command);
    if (!run.startError.empty() || run.timedOut || run.signal != 0 || run.status != 0)
        return SigningFault(options, run);
    return "";
}

// Whether the signed bytes hold every signature and carry `program` itself. Returns "" with
// the signatures in `check`; else why not.
std::string CheckSigned(const std::vector<unsigned char>& program,
                        const std::vector<unsigned char>& result, SignatureCheck* check) {
    *check = CheckSignature(result.empty() ? nullptr : result.data(), result.size());
    if (check->state == SignatureState::Unsigned || check->state == SignatureState::NotProgram)
        return "the program carries no signature after signing";
    std::vector<const SignatureCheck*> all = {check};
    for (const SignatureCheck& nested : check->nested) all.push_back(&nested);
    std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    for (const SignatureCheck* one : all) {
        std::string fault =
            one->state != SignatureState::Holds ? one->reason : ValidityFault(*one, now);
        if (!fault.empty())
            return "the signed program's " +
                   std::string(one == check ? "signature" : "nested signature") +
                   " does not hold: " + fault;
    }
    // A signature holds for the file it is in: that file must be the program tidepack made.
    std::vector<unsigned char> digest;
    std::string error;
    if (!ProgramDigest(program, check->digest, &digest, &error)) return error;
    if (digest != check->imageDigest)
        return "the signed program is not the one tidepack wrote: its signed " + check->digest +
               " image digest differs, so the signing command changed the program or signed "
               "another file";
    return "";
}

}  // namespace

int SignProgram(const std::vector<unsigned char>& program, const std::string& signedOutput,
                const SignOptions& options, std::FILE* echo, std::string* signer,
                std::string* error) {
    if (!LooksLikePe(program.empty() ? nullptr : program.data(), program.size())) {
        *error = "not a PE image, so there is nothing to sign";
        return 0;
    }
    if (!CheckSignOptions(options, error)) return 0;

    // Both files live in a fresh folder beside the output, private to this user: osslsigncode
    // refuses an existing output, and a signing command must not see others' files.
    Scratch scratch;
    if (!MakePrivateFolder(signedOutput, "sign", &scratch.folder, error)) return 0;
    // A signing service may show the file's name, so it keeps the output's.
    fs::path folder = fs::u8path(scratch.folder);
    std::string unsignedTemp =
        (folder /
         (options.command.empty() ? fs::path("unsigned.exe") : fs::u8path(signedOutput).filename()))
            .u8string();
    std::string signedTemp =
        options.command.empty() ? (folder / "signed.exe").u8string() : unsignedTemp;
    if (!WriteFileWhole(unsignedTemp, program, error)) return 0;

    std::string ran;  // for errors after the command: how it ended and what it said
    *error = options.command.empty() ? RunOsslsigncode(options, unsignedTemp, signedTemp, echo)
                                     : RunSigningCommand(options, unsignedTemp, echo, &ran);
    if (!error->empty()) return 0;

    std::vector<unsigned char> result;
    SignatureCheck check;
    if (!ReadWholeFile(signedTemp, &result, error)) {
        *error = "the signed program: " + *error + ran;
        return 0;
    }
    *error = CheckSigned(program, result, &check);
    if (!error->empty()) {
        *error += ran;
        return 0;
    }
    if (!PutInPlace(signedTemp, signedOutput, error)) {
        *error = signedOutput + ": " + *error;
        return 0;
    }
    *signer = check.subject;
    for (const SignatureCheck& nested : check.nested)
        if (nested.subject != check.subject) *signer += " and " + nested.subject;
    return 1;
}
