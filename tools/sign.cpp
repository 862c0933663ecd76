#include "sign.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <utility>

#include "bounded_bytes.h"
#include "package_file.h"
#include "pe_resource.h"
#include "tidepack.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr char SPC_INDIRECT_DATA[] = "1.3.6.1.4.1.311.2.1.4";
constexpr char RFC3161_TIMESTAMP[] = "1.3.6.1.4.1.311.3.3.1";
constexpr char SPC_NESTED_SIGNATURE[] = "1.3.6.1.4.1.311.2.4.1";
// Nested signatures read at most, so a crafted table cannot make the check recurse deeply.
constexpr std::size_t NESTED_LIMIT = 16;
constexpr std::uint32_t WIN_CERT_REVISION_2_0 = 0x0200;
constexpr std::uint32_t WIN_CERT_TYPE_PKCS_SIGNED_DATA = 2;
// osslsigncode reads at most 4095 bytes of a password.
constexpr std::size_t PASSWORD_LIMIT = 4000;

// What the Authenticode image digest skips or stops at.
struct DigestLayout {
    std::uint64_t checksum = 0;       // the CheckSum field's offset
    std::uint64_t securityEntry = 0;  // the security data-directory entry's offset; 0: none
    std::uint32_t tableOffset = 0;    // the certificate table
    std::uint32_t tableSize = 0;
};

bool ReadLayout(const Bytes& bytes, DigestLayout* layout, std::string* error) {
    PeLayout pe;
    if (!ReadPeLayout(bytes.data, bytes.size, &pe, error)) return false;
    layout->checksum = pe.optional + 64;
    if (PeDirectory(bytes.data, bytes.size, pe, PE_SECURITY_DIRECTORY, &layout->tableOffset,
                    &layout->tableSize))
        layout->securityEntry = pe.directories + 8 * PE_SECURITY_DIRECTORY;
    return true;
}

// The image digest: the file in order up to the certificate table, without CheckSum and the
// security entry, then `padding` zero bytes. Hashing by sections instead would leave out the
// gaps between them, which the mingw-linked program has and osslsigncode (like Windows in
// practice) hashes.
bool ImageDigest(const Bytes& bytes, const DigestLayout& layout, const EVP_MD* md,
                 std::vector<unsigned char>* digest, std::string* error,
                 std::uint64_t padding = 0) {
    if (layout.tableOffset < layout.securityEntry + 8) {
        *error = "the certificate table at offset " + std::to_string(layout.tableOffset) +
                 " lies inside the PE headers";
        return false;
    }
    const std::pair<std::uint64_t, std::uint64_t> ranges[] = {
        {0, layout.checksum},
        {layout.checksum + 4, layout.securityEntry},
        {layout.securityEntry + 8, layout.tableOffset}};
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                    EVP_MD_CTX_free);
    unsigned char value[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    bool ok = context && EVP_DigestInit_ex(context.get(), md, nullptr) == 1;
    for (const auto& range : ranges)
        ok = ok && EVP_DigestUpdate(context.get(), bytes.data + range.first,
                                    range.second - range.first) == 1;
    const unsigned char zeros[8] = {};
    ok = ok && padding < sizeof zeros && EVP_DigestUpdate(context.get(), zeros, padding) == 1;
    if (!ok || EVP_DigestFinal_ex(context.get(), value, &length) != 1) {
        *error = "libcrypto could not compute the image digest";
        return false;
    }
    digest->assign(value, value + length);
    return true;
}

std::string NameText(const X509_NAME* name) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    // "CN=..., O=...", in the certificate's order, UTF-8 kept, control characters escaped.
    if (!bio || X509_NAME_print_ex(bio.get(), name, 0,
                                   XN_FLAG_ONELINE & ~XN_FLAG_SPC_EQ & ~ASN1_STRFLGS_ESC_MSB) < 0)
        return "?";
    char* text = nullptr;
    long length = BIO_get_mem_data(bio.get(), &text);
    return std::string(text, length > 0 ? static_cast<std::size_t>(length) : 0);
}

bool IsObject(const ASN1_OBJECT* object, const char* oid) {
    char text[80];
    return OBJ_obj2txt(text, sizeof text, object, 1) > 0 && std::strcmp(text, oid) == 0;
}

// A signature in the certificate table: whose it is, and whether it holds. Those nested in it
// go to `nested`, each after the one it is nested in.
void CheckPkcs7(const Bytes& bytes, const DigestLayout& layout, const unsigned char* der,
                long length, SignatureCheck* check, std::vector<SignatureCheck>* nested) {
    auto broken = [check](const std::string& reason) {
        check->state = SignatureState::Broken;
        check->reason = reason;
    };
    std::unique_ptr<PKCS7, decltype(&PKCS7_free)> p7(d2i_PKCS7(nullptr, &der, length), PKCS7_free);
    if (!p7 || !PKCS7_type_is_signed(p7.get()) || !p7->d.sign || !p7->d.sign->contents ||
        !IsObject(p7->d.sign->contents->type, SPC_INDIRECT_DATA) ||
        !p7->d.sign->contents->d.other || p7->d.sign->contents->d.other->type != V_ASN1_SEQUENCE)
        return broken("the certificate table holds no Authenticode signature");

    std::unique_ptr<STACK_OF(X509), void (*)(STACK_OF(X509)*)> signers(
        PKCS7_get0_signers(p7.get(), nullptr, 0), [](STACK_OF(X509) * s) { sk_X509_free(s); });
    if (!signers || sk_X509_num(signers.get()) < 1)
        return broken("the signer's certificate is not in the signature");
    X509* signer = sk_X509_value(signers.get(), 0);
    check->subject = NameText(X509_get_subject_name(signer));
    check->issuer = NameText(X509_get_issuer_name(signer));
    check->selfSigned = X509_self_signed(signer, 0) == 1;
    // Authenticode has exactly one signer.
    STACK_OF(PKCS7_SIGNER_INFO)* infos = PKCS7_get_signer_info(p7.get());
    if (sk_PKCS7_SIGNER_INFO_num(infos) != 1)
        return broken("the signature has " + std::to_string(sk_PKCS7_SIGNER_INFO_num(infos)) +
                      " signers, not one");
    PKCS7_SIGNER_INFO* info = sk_PKCS7_SIGNER_INFO_value(infos, 0);
    for (int k = 0; k < sk_X509_ATTRIBUTE_num(info->unauth_attr); ++k) {
        X509_ATTRIBUTE* attribute = sk_X509_ATTRIBUTE_value(info->unauth_attr, k);
        const ASN1_OBJECT* type = X509_ATTRIBUTE_get0_object(attribute);
        if (OBJ_obj2nid(type) == NID_pkcs9_countersignature || IsObject(type, RFC3161_TIMESTAMP))
            check->timestamped = true;
        if (!IsObject(type, SPC_NESTED_SIGNATURE)) continue;
        // Outside what this signer signed: each nested signature stands on its own.
        for (int v = 0; v < X509_ATTRIBUTE_count(attribute) && nested->size() < NESTED_LIMIT; ++v) {
            const ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(attribute, v);
            SignatureCheck inner;
            std::size_t at = nested->size();
            nested->emplace_back();
            if (value && value->type == V_ASN1_SEQUENCE) {
                CheckPkcs7(bytes, layout, value->value.sequence->data,
                           value->value.sequence->length, &inner, nested);
            } else {
                inner.state = SignatureState::Broken;
                inner.reason = "a nested signature is not a PKCS#7 signature";
            }
            (*nested)[at] = std::move(inner);
        }
    }

    // SpcIndirectDataContent: SEQUENCE { SpcAttributeTypeAndOptionalValue, DigestInfo }. The
    // signed messageDigest covers its contents without the outer tag and length.
    const ASN1_STRING* sequence = p7->d.sign->contents->d.other->value.sequence;
    const unsigned char* at = sequence->data;
    long inner = 0, part = 0;
    int tag, type;
    const char* damaged = "the signed SpcIndirectDataContent is damaged";
    if (ASN1_get_object(&at, &inner, &tag, &type, sequence->length) & 0x80 ||
        tag != V_ASN1_SEQUENCE)
        return broken(damaged);
    const unsigned char* content = at;
    if (ASN1_get_object(&at, &part, &tag, &type, inner) & 0x80) return broken(damaged);
    at += part;
    long rest = inner - (at - content);
    std::unique_ptr<X509_SIG, decltype(&X509_SIG_free)> digestInfo(
        rest > 0 ? d2i_X509_SIG(nullptr, &at, rest) : nullptr, X509_SIG_free);
    if (!digestInfo) return broken(damaged);
    const X509_ALGOR* algorithm;
    const ASN1_OCTET_STRING* signedDigest;
    X509_SIG_get0(digestInfo.get(), &algorithm, &signedDigest);
    const ASN1_OBJECT* object;
    X509_ALGOR_get0(&object, nullptr, nullptr, algorithm);
    const EVP_MD* md = EVP_get_digestbyobj(object);
    if (!md) return broken("the image digest's algorithm is not one libcrypto knows");
    check->digest = OBJ_nid2sn(EVP_MD_get_type(md));
    check->imageDigest.assign(
        ASN1_STRING_get0_data(signedDigest),
        ASN1_STRING_get0_data(signedDigest) + ASN1_STRING_length(signedDigest));

    std::vector<unsigned char> digest;
    std::string error;
    if (!ImageDigest(bytes, layout, md, &digest, &error)) return broken(error);
    if (digest.size() != static_cast<std::size_t>(ASN1_STRING_length(signedDigest)) ||
        !std::equal(digest.begin(), digest.end(), ASN1_STRING_get0_data(signedDigest)))
        return broken("changed after signing: the image digest is not the signed one");

    // The signer's signature over the signed attributes, whose messageDigest must match. Not
    // PKCS7_verify: it leaks its digest BIOs when the signature lists two digest algorithms.
    const EVP_MD* signerMd = EVP_get_digestbyobj(info->digest_alg->algorithm);
    std::unique_ptr<BIO, decltype(&BIO_free_all)> chain(BIO_new(BIO_f_md()), BIO_free_all);
    BIO* source = BIO_new_mem_buf(content, static_cast<int>(inner));
    if (!signerMd || !chain || !source || BIO_set_md(chain.get(), signerMd) != 1) {
        BIO_free(source);
        return broken("the signer's digest algorithm is not one libcrypto knows");
    }
    BIO_push(chain.get(), source);
    unsigned char piece[4096];
    while (BIO_read(chain.get(), piece, sizeof piece) > 0) {
    }
    if (PKCS7_signatureVerify(chain.get(), p7.get(), info, signer) != 1)
        return broken("the signer's signature over the signed content does not verify");
    check->state = SignatureState::Holds;
}

// The file descriptor and the folder SignProgram made, gone however it returns.
struct Scratch {
    int passwordPipe = -1;
    std::string folder;
    ~Scratch() {
        if (passwordPipe >= 0) close(passwordPipe);
        std::error_code code;
        if (!folder.empty()) fs::remove_all(folder, code);
    }
};

struct RunResult {
    int status = -1;  // the exit status; -1 when it did not exit by itself
    int signal = 0;   // the signal that ended it
    bool timedOut = false;
    int spawnError = 0;  // errno's value when it could not start
    std::string output;  // stdout and stderr as one, its last MiB
};

struct Command {
    std::vector<std::string> arguments;
    int input = -1;         // stdin; -1: tidepack's own when `terminal`, else /dev/null
    bool terminal = false;  // may ask on tidepack's terminal, for a PIN
    std::string hidden;     // an environment variable it does not get
    unsigned timeoutSeconds = 300;
    std::FILE* echo = nullptr;  // its output passes through here as it comes
};

using Clock = std::chrono::steady_clock;

// Runs `command.arguments` without a shell in a process group of its own, which is stopped whole
// when it runs out of time. On a terminal that group is in the foreground meanwhile, so that it
// can ask for a PIN and Ctrl-C reaches it.
RunResult Run(const Command& command) {
    RunResult result;
    std::vector<char*> argv;
    for (const std::string& argument : command.arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> environment;
    std::string hidden = command.hidden + "=";
    for (char** variable = environ; *variable; ++variable)
        if (command.hidden.empty() || std::strncmp(*variable, hidden.c_str(), hidden.size()))
            environment.push_back(*variable);
    environment.push_back(nullptr);
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        result.spawnError = errno;
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDERR_FILENO);
    if (command.input >= 0)
        posix_spawn_file_actions_adddup2(&actions, command.input, STDIN_FILENO);
    else if (!command.terminal)
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid;
    result.spawnError =
        posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environment.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(ends[1]);
    if (result.spawnError != 0) {
        close(ends[0]);
        return result;
    }
    bool foreground =
        command.terminal && isatty(STDIN_FILENO) && tcgetpgrp(STDIN_FILENO) == getpgrp();
    if (foreground) {
        tcsetpgrp(STDIN_FILENO, pid);
        kill(-pid, SIGCONT);  // in case it read the terminal before it was given it
    }

    auto deadline = Clock::now() + std::chrono::seconds(command.timeoutSeconds);
    pollfd source{ends[0], POLLIN, 0};
    int status = 0;
    bool exited = false;
    char piece[4096];
    auto take = [&](ssize_t got) {
        if (command.echo) {
            std::fwrite(piece, 1, static_cast<std::size_t>(got), command.echo);
            std::fflush(command.echo);
        }
        result.output.append(piece, static_cast<std::size_t>(got));
        if (result.output.size() > (2u << 20))
            result.output.erase(0, result.output.size() - (1u << 20));
    };
    while (!exited) {
        // After end of file it may still run; poll then only waits.
        poll(&source, 1, 100);
        if (source.fd >= 0 && source.revents) {
            ssize_t got = read(source.fd, piece, sizeof piece);
            if (got > 0)
                take(got);
            else if (got == 0 || errno != EINTR)
                source.fd = -1;
        }
        exited = waitpid(pid, &status, WNOHANG) == pid;
        if (!exited && Clock::now() >= deadline) {
            result.timedOut = true;
            kill(-pid, SIGTERM);
            for (int k = 0; k < 20 && !exited; ++k) {
                usleep(100000);
                exited = waitpid(pid, &status, WNOHANG) == pid;
            }
            kill(-pid, SIGKILL);
            if (!exited) waitpid(pid, &status, 0);
            exited = true;
        }
    }
    // What it printed last, without waiting for what it left running in the background.
    if (source.fd >= 0 && fcntl(source.fd, F_SETFL, O_NONBLOCK) == 0) {
        ssize_t got;
        // Bounded: something it left behind may go on writing.
        for (int k = 0; k < 256 && (got = read(source.fd, piece, sizeof piece)) > 0; ++k) take(got);
    }
    close(ends[0]);
    if (foreground) {
        // Taking the terminal back from the background would otherwise stop tidepack.
        struct sigaction ignore {
        }, previous{};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGTTOU, &ignore, &previous);
        tcsetpgrp(STDIN_FILENO, getpgrp());
        sigaction(SIGTTOU, &previous, nullptr);
    }
    if (!result.timedOut && WIFEXITED(status)) result.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}

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

// `command` with %1 as `path` quoted for the shell and %% as %.
std::string ExpandCommand(const std::string& command, const std::string& path) {
    std::string quoted = "'";
    for (char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    quoted += "'";
    std::string result;
    for (std::size_t k = 0; k < command.size(); ++k) {
        if (command[k] == '%' && k + 1 < command.size() && command[k + 1] == '1') {
            result += quoted;
            ++k;
        } else if (command[k] == '%' && k + 1 < command.size() && command[k + 1] == '%') {
            result += '%';
            ++k;
        } else {
            result += command[k];
        }
    }
    return result;
}

bool OnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "";
    for (std::size_t start = 0; start <= folders.size();) {
        std::size_t end = std::min(folders.find(':', start), folders.size());
        std::string folder = end > start ? folders.substr(start, end - start) : ".";
        if (access((folder + "/" + name).c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

// libcrypto's engine folder holds the PKCS#11 engine that osslsigncode loads.
std::string Pkcs11Engine() {
    std::string text = OpenSSL_version(OPENSSL_ENGINES_DIR);  // ENGINESDIR: "/usr/lib/..."
    std::size_t open = text.find('"'), close = text.rfind('"');
    if (open == std::string::npos || close <= open) return "";
    return text.substr(open + 1, close - open - 1) + "/pkcs11.so";
}

// The names of the certificates in a PEM chain; empty when it holds none.
std::vector<std::string> ChainSubjects(const std::string& path) {
    std::vector<std::string> subjects;
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_file(path.c_str(), "r"), BIO_free);
    while (bio) {
        std::unique_ptr<X509, decltype(&X509_free)> certificate(
            PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr), X509_free);
        if (!certificate) break;
        subjects.push_back(NameText(X509_get_subject_name(certificate.get())));
    }
    ERR_clear_error();
    return subjects;
}

// The Authenticode digest a signature of `program` must carry: the unsigned image padded with
// zeros to 8 bytes, as signing tools pad it before the certificate table.
bool ProgramDigest(const std::vector<unsigned char>& program, const std::string& algorithm,
                   std::vector<unsigned char>* digest, std::string* error) {
    Bytes bytes{program.data(), program.size()};
    DigestLayout layout;
    const EVP_MD* md = EVP_get_digestbyname(algorithm.c_str());
    if (!ReadLayout(bytes, &layout, error)) return false;
    if (!md || layout.securityEntry == 0) {
        *error = "cannot compute the " + algorithm + " image digest of the program";
        return false;
    }
    layout.tableOffset = static_cast<std::uint32_t>(program.size());
    return ImageDigest(bytes, layout, md, digest, error, (8 - program.size() % 8) % 8);
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
    const char* value =
        options.passwordEnv.empty() ? nullptr : std::getenv(options.passwordEnv.c_str());
    bool none = options.passwordFile.empty() && (!value || !*value);
    if (run.spawnError == ENOENT)
        return "osslsigncode is not installed (Debian package osslsigncode)";
    if (run.spawnError != 0)
        return std::string("cannot run osslsigncode: ") + std::strerror(run.spawnError);
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

SignatureCheck CheckSignature(const unsigned char* data, std::uint64_t size) {
    SignatureCheck check;
    Bytes bytes{data, size};
    if (!LooksLikePe(data, size)) return check;
    DigestLayout layout;
    std::string error;
    check.state = SignatureState::Broken;
    if (!ReadLayout(bytes, &layout, &error)) {
        check.reason = error;
        return check;
    }
    if (layout.securityEntry == 0 || (layout.tableOffset == 0 && layout.tableSize == 0)) {
        check.state = SignatureState::Unsigned;
        return check;
    }
    std::uint64_t tableEnd = static_cast<std::uint64_t>(layout.tableOffset) + layout.tableSize;
    std::uint32_t length = 0, revision = 0, type = 0;
    if (tableEnd > size) {
        check.reason = "the certificate table at offset " + std::to_string(layout.tableOffset) +
                       " reaches past the end of the file";
    } else if (tableEnd < size) {
        check.reason = std::to_string(size - tableEnd) +
                       " bytes follow the certificate table, outside what the signature covers";
    } else if (!Read32(bytes, layout.tableOffset, &length) ||
               !Read16(bytes, layout.tableOffset + 4, &revision) ||
               !Read16(bytes, layout.tableOffset + 6, &type) || length <= 8 ||
               length > layout.tableSize) {
        check.reason = "the certificate table's first entry does not fit its " +
                       std::to_string(layout.tableSize) + " bytes";
    } else if (revision != WIN_CERT_REVISION_2_0 || type != WIN_CERT_TYPE_PKCS_SIGNED_DATA) {
        char kind[64];
        std::snprintf(kind, sizeof kind, " (revision 0x%04X, type %u)", revision, type);
        check.reason =
            "the certificate table's first entry is not a PKCS#7 signature" + std::string(kind);
    } else if (std::any_of(data + std::min<std::uint64_t>(
                                      layout.tableOffset + (length + 7ull) / 8 * 8, tableEnd),
                           data + tableEnd, [](unsigned char b) { return b != 0; })) {
        check.reason = "the certificate table holds a second entry, which Windows does not check";
    } else {
        CheckPkcs7(bytes, layout, data + layout.tableOffset + 8, static_cast<long>(length - 8),
                   &check, &check.nested);
    }
    ERR_clear_error();
    return check;
}

int ReportSignature(const std::string& path, const std::vector<unsigned char>& bytes, bool listing,
                    std::FILE* out, std::FILE* err) {
    SignatureCheck outer = CheckSignature(bytes.empty() ? nullptr : bytes.data(), bytes.size());
    if (outer.state == SignatureState::NotProgram) return 0;
    if (outer.state == SignatureState::Unsigned) {
        std::fprintf(out, listing ? "signature      not signed\n" : "%s: not signed\n",
                     path.c_str());
        return 0;
    }
    std::vector<const SignatureCheck*> all = {&outer};
    for (const SignatureCheck& nested : outer.nested) all.push_back(&nested);
    int broken = 0;
    for (std::size_t k = 0; k < all.size(); ++k) {
        const SignatureCheck& check = *all[k];
        std::string how = (k > 0 ? "nested; Authenticode " : "Authenticode ") + check.digest;
        if (check.timestamped) how += ", timestamp not checked";
        how += check.selfSigned ? "; self-signed certificate, chain not checked"
                                : "; certificate chain not checked";
        bool holds = check.state == SignatureState::Holds;
        broken += holds ? 0 : 1;
        // The outer one keeps its plain name; nested ones are numbered from 2.
        std::string number = k > 0 ? " " + std::to_string(k + 1) : "";
        std::string name = (k > 0 ? "nested signature" : "signature") + number;
        if (listing) {
            std::string label = "signature" + number;
            label.resize(std::max<std::size_t>(label.size() + 1, 15), ' ');
            if (holds)
                std::fprintf(out, "%sholds (%s)\n", label.c_str(), how.c_str());
            else
                std::fprintf(out, "%sBROKEN: %s\n", label.c_str(), check.reason.c_str());
            if (!check.subject.empty())
                std::fprintf(out, "signer         %s\nissuer         %s\n", check.subject.c_str(),
                             check.issuer.c_str());
            if (!holds)
                std::fprintf(err, "tidepack: %s: the %s is broken: %s\n", path.c_str(),
                             name.c_str(), check.reason.c_str());
        } else if (holds) {
            std::fprintf(out, "%s: %s holds: signer %s; issuer %s (%s)\n", path.c_str(),
                         name.c_str(), check.subject.c_str(), check.issuer.c_str(), how.c_str());
        } else {
            std::fprintf(err, "%s: %s BROKEN: %s%s%s\n", path.c_str(), name.c_str(),
                         check.reason.c_str(), check.subject.empty() ? "" : "; signer ",
                         check.subject.c_str());
        }
    }
    return broken > 0 ? 1 : 0;
}

int CheckSignOptions(const SignOptions& options, std::string* error) {
    for (const std::string& file :
         {options.pkcs12, options.passwordFile, options.pkcs11Module, options.certChain}) {
        if (!file.empty() && access(file.c_str(), R_OK) != 0) {
            *error = file + ": " + std::strerror(errno);
            return 0;
        }
    }
    if (!options.passwordEnv.empty()) {
        const char* password = std::getenv(options.passwordEnv.c_str());
        if (!password) {
            *error = "the environment variable " + options.passwordEnv + " is not set";
            return 0;
        }
        if (std::strlen(password) > PASSWORD_LIMIT) {
            *error = "the password in " + options.passwordEnv + " is longer than " +
                     std::to_string(PASSWORD_LIMIT) + " bytes";
            return 0;
        }
    }
    if (!options.command.empty()) {
        if (ExpandCommand(options.command, "") == ExpandCommand(options.command, "x")) {
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
        std::string engine = Pkcs11Engine();
        if (access(engine.c_str(), R_OK) != 0) {
            *error = "the OpenSSL PKCS#11 engine is not installed at " + engine +
                     " (Debian package libengine-pkcs11-openssl)";
            return 0;
        }
    }
    if (!OnPath("osslsigncode")) {
        *error = "osslsigncode is not installed (Debian package osslsigncode)";
        return 0;
    }
    return 1;
}

int SignProgram(const std::vector<unsigned char>& program, const std::string& signedOutput,
                const SignOptions& options, std::FILE* err, std::string* signer,
                std::string* error) {
    if (!LooksLikePe(program.empty() ? nullptr : program.data(), program.size())) {
        *error = "not a PE image, so there is nothing to sign";
        return EXIT_FAULT;
    }
    if (!CheckSignOptions(options, error)) return EXIT_FAULT;

    // Both files live in a fresh folder beside the output, private to this user: osslsigncode
    // refuses an existing output, and a signing command must not see others' files.
    Scratch scratch;
    fs::path target = fs::u8path(signedOutput);
    // Absolute, for a command that changes its folder before it signs.
    std::error_code code;
    fs::path folder = fs::absolute(target, code).parent_path();
    std::string pattern = (folder / ("." + target.filename().string() + ".sign-XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (code || !mkdtemp(name.data())) {
        *error = "cannot create a folder in " + folder.string() + ": " +
                 (code ? code.message() : std::strerror(errno));
        return EXIT_FAULT;
    }
    scratch.folder = name.data();
    // A signing service may show the file's name, so it keeps the output's.
    std::string unsignedTemp =
        scratch.folder + "/" +
        (options.command.empty() ? std::string("unsigned.exe") : target.filename().string());
    std::string signedTemp =
        options.command.empty() ? scratch.folder + "/signed.exe" : unsignedTemp;
    if (!WriteFileWhole(unsignedTemp, program, error)) return EXIT_FAULT;

    Command command;
    command.timeoutSeconds = options.timeoutSeconds;
    std::string ran;  // for errors after the command: how it ended and what it said
    if (!options.command.empty()) {
        command.arguments = {"/bin/sh", "-c", ExpandCommand(options.command, unsignedTemp)};
        command.terminal = true;
        command.echo = err;
        RunResult run = Run(command);
        ran = LastLines(run.output, 3);
        if (run.spawnError != 0) {
            *error = std::string("cannot run /bin/sh: ") + std::strerror(run.spawnError);
        } else if (run.timedOut) {
            *error = "the signing command did not finish within " +
                     std::to_string(options.timeoutSeconds) +
                     " s (--sign-timeout) and was stopped; " + ran;
        } else if (run.signal != 0) {
            *error = "the signing command was ended by signal " + std::to_string(run.signal) +
                     "; " + ran;
        } else if (run.status != 0) {
            *error = "the signing command failed with exit status " + std::to_string(run.status) +
                     "; " + ran;
        }
        if (!error->empty()) return EXIT_FAULT;
        ran = " (the signing command exited with status 0; " + ran + ")";
    } else {
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
        // The password or PIN reaches osslsigncode as a file it reads, never on its command
        // line: the given file, or a pipe on its stdin holding the variable's value.
        // osslsigncode passes it on to the engine as the token's PIN.
        if (!options.passwordFile.empty()) {
            command.arguments.insert(command.arguments.end(), {"-readpass", options.passwordFile});
        } else if (!options.passwordEnv.empty()) {
            const char* password = std::getenv(options.passwordEnv.c_str());
            std::size_t length = std::strlen(password);
            int ends[2];
            if (length > 0) {
                if (pipe2(ends, O_CLOEXEC) != 0) {
                    *error = std::string("cannot make a pipe: ") + std::strerror(errno);
                    return EXIT_FAULT;
                }
                scratch.passwordPipe = ends[0];
                // Far below the pipe's capacity, so this cannot block.
                bool written = write(ends[1], password, length) == static_cast<ssize_t>(length);
                close(ends[1]);
                if (!written) {
                    *error = std::string("cannot pass the password: ") + std::strerror(errno);
                    return EXIT_FAULT;
                }
                command.arguments.insert(command.arguments.end(), {"-readpass", "/dev/stdin"});
                command.input = scratch.passwordPipe;
            }
            command.hidden = options.passwordEnv;
        }
        if (!options.description.empty())
            command.arguments.insert(command.arguments.end(), {"-n", options.description});
        if (!options.timestampUrl.empty())
            command.arguments.insert(command.arguments.end(), {"-ts", options.timestampUrl});
        command.arguments.insert(command.arguments.end(),
                                 {"-in", unsignedTemp, "-out", signedTemp});
        command.echo = options.verbose ? err : nullptr;
        RunResult run = Run(command);
        if (run.spawnError != 0 || run.timedOut || run.signal != 0 || run.status != 0) {
            *error = SigningFault(options, run);
            return EXIT_FAULT;
        }
    }

    std::vector<unsigned char> result;
    if (!ReadWholeFile(signedTemp, &result, error)) {
        *error = "the signed program: " + *error + ran;
        return EXIT_FAULT;
    }
    SignatureCheck check = CheckSignature(result.empty() ? nullptr : result.data(), result.size());
    if (check.state == SignatureState::Unsigned || check.state == SignatureState::NotProgram) {
        *error = "the program carries no signature after signing" + ran;
        return EXIT_FAULT;
    }
    std::vector<const SignatureCheck*> all = {&check};
    for (const SignatureCheck& nested : check.nested) all.push_back(&nested);
    for (const SignatureCheck* one : all) {
        if (one->state != SignatureState::Holds) {
            *error = "the signed program's " +
                     std::string(one == &check ? "signature" : "nested signature") +
                     " does not hold: " + one->reason + ran;
            return EXIT_FAULT;
        }
    }
    // A signature holds for the file it is in: that file must be the program tidepack made.
    std::vector<unsigned char> digest;
    if (!ProgramDigest(program, check.digest, &digest, error)) return EXIT_FAULT;
    if (digest != check.imageDigest) {
        *error = "the signed program is not the one tidepack wrote: its signed " + check.digest +
                 " image digest differs, so the signing command changed the program or signed "
                 "another file" +
                 ran;
        return EXIT_FAULT;
    }
    int fd = open(signedTemp.c_str(), O_RDONLY | O_CLOEXEC);
    bool synced = fd >= 0 && fsync(fd) == 0;
    if (fd >= 0) close(fd);
    if (!synced || chmod(signedTemp.c_str(), 0755) != 0 ||
        std::rename(signedTemp.c_str(), target.c_str()) != 0) {
        *error = signedOutput + ": " + std::strerror(errno);
        return EXIT_FAULT;
    }
    *signer = check.subject;
    for (const SignatureCheck& nested : check.nested)
        if (nested.subject != check.subject) *signer += " and " + nested.subject;
    return 0;
}
