#include "sign.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <algorithm>
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
// security entry. Hashing by sections instead would leave out the gaps between them, which the
// mingw-linked program has and osslsigncode (like Windows in practice) hashes.
bool ImageDigest(const Bytes& bytes, const DigestLayout& layout, const EVP_MD* md,
                 std::vector<unsigned char>* digest, std::string* error) {
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

// The signature inside the certificate table: whose it is, and whether it holds.
void CheckPkcs7(const Bytes& bytes, const DigestLayout& layout, const unsigned char* der,
                long length, SignatureCheck* check) {
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
        const ASN1_OBJECT* type =
            X509_ATTRIBUTE_get0_object(sk_X509_ATTRIBUTE_value(info->unauth_attr, k));
        if (OBJ_obj2nid(type) == NID_pkcs9_countersignature || IsObject(type, RFC3161_TIMESTAMP))
            check->timestamped = true;
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

// Runs `arguments` without a shell: stdin from `input` (/dev/null when -1), stdout and stderr
// into `log`, the environment without the variable `hidden`. Returns the exit code, or -1 with
// errno's value in `*spawnError` when it could not start.
int Run(const std::vector<std::string>& arguments, int input, const std::string& log,
        const std::string& hidden, int* spawnError) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> environment;
    for (char** variable = environ; *variable; ++variable)
        if (hidden.empty() || std::strncmp(*variable, (hidden + "=").c_str(), hidden.size() + 1))
            environment.push_back(*variable);
    environment.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    if (input >= 0)
        posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    pid_t pid;
    *spawnError = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environment.data());
    posix_spawn_file_actions_destroy(&actions);
    if (*spawnError != 0) return -1;
    int status;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
    } else {
        CheckPkcs7(bytes, layout, data + layout.tableOffset + 8, static_cast<long>(length - 8),
                   &check);
    }
    ERR_clear_error();
    return check;
}

int ReportSignature(const std::string& path, const std::vector<unsigned char>& bytes, bool listing,
                    std::FILE* out, std::FILE* err) {
    SignatureCheck check = CheckSignature(bytes.empty() ? nullptr : bytes.data(), bytes.size());
    if (check.state == SignatureState::NotProgram) return 0;
    if (check.state == SignatureState::Unsigned) {
        std::fprintf(out, listing ? "signature      not signed\n" : "%s: not signed\n",
                     path.c_str());
        return 0;
    }
    std::string how = "Authenticode " + check.digest;
    if (check.timestamped) how += ", timestamp not checked";
    how += check.selfSigned ? "; self-signed certificate, chain not checked"
                            : "; certificate chain not checked";
    bool holds = check.state == SignatureState::Holds;
    if (listing) {
        if (holds)
            std::fprintf(out, "signature      holds (%s)\n", how.c_str());
        else
            std::fprintf(out, "signature      BROKEN: %s\n", check.reason.c_str());
        if (!check.subject.empty())
            std::fprintf(out, "signer         %s\nissuer         %s\n", check.subject.c_str(),
                         check.issuer.c_str());
        if (!holds)
            std::fprintf(err, "tidepack: %s: the signature is broken: %s\n", path.c_str(),
                         check.reason.c_str());
    } else if (holds) {
        std::fprintf(out, "%s: signature holds: signer %s; issuer %s (%s)\n", path.c_str(),
                     check.subject.c_str(), check.issuer.c_str(), how.c_str());
    } else {
        std::fprintf(err, "%s: signature BROKEN: %s%s%s\n", path.c_str(), check.reason.c_str(),
                     check.subject.empty() ? "" : "; signer ", check.subject.c_str());
    }
    return holds ? 0 : 1;
}

int CheckSignOptions(const SignOptions& options, std::string* error) {
    for (const std::string& file : {options.pkcs12, options.passwordFile}) {
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
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "";
    for (std::size_t start = 0; start <= folders.size();) {
        std::size_t end = std::min(folders.find(':', start), folders.size());
        std::string folder = end > start ? folders.substr(start, end - start) : ".";
        if (access((folder + "/osslsigncode").c_str(), X_OK) == 0) return 1;
        start = end + 1;
    }
    *error = "osslsigncode is not installed (Debian package osslsigncode)";
    return 0;
}

int SignProgram(const std::vector<unsigned char>& program, const std::string& signedOutput,
                const SignOptions& options, std::FILE* err, std::string* error) {
    if (!LooksLikePe(program.empty() ? nullptr : program.data(), program.size())) {
        *error = "not a PE image, so there is nothing to sign";
        return EXIT_FAULT;
    }
    if (!CheckSignOptions(options, error)) return EXIT_FAULT;

    Scratch scratch;
    std::vector<std::string> arguments = {"osslsigncode", "sign", "-pkcs12",
                                          options.pkcs12, "-h",   "sha256"};
    // The password reaches osslsigncode as a file it reads, never on its command line: the
    // given file, or a pipe on its stdin holding the variable's value.
    if (!options.passwordFile.empty()) {
        arguments.insert(arguments.end(), {"-readpass", options.passwordFile});
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
            arguments.insert(arguments.end(), {"-readpass", "/dev/stdin"});
        }
    }
    if (!options.description.empty())
        arguments.insert(arguments.end(), {"-n", options.description});
    if (!options.timestampUrl.empty())
        arguments.insert(arguments.end(), {"-ts", options.timestampUrl});

    // osslsigncode reads and writes files, and refuses an existing output: both go into a
    // fresh folder beside ours, private to this user.
    fs::path target = fs::u8path(signedOutput);
    fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    std::string pattern = (folder / ("." + target.filename().string() + ".sign-XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!mkdtemp(name.data())) {
        *error = "cannot create a folder in " + folder.string() + ": " + std::strerror(errno);
        return EXIT_FAULT;
    }
    scratch.folder = name.data();
    std::string unsignedTemp = scratch.folder + "/unsigned.exe";
    std::string signedTemp = scratch.folder + "/signed.exe";
    std::string log = scratch.folder + "/osslsigncode.log";
    if (!WriteFileWhole(unsignedTemp, program, error)) return EXIT_FAULT;
    arguments.insert(arguments.end(), {"-in", unsignedTemp, "-out", signedTemp});

    int spawnError = 0;
    int code = Run(arguments, scratch.passwordPipe, log, options.passwordEnv, &spawnError);
    if (code != 0) {
        std::vector<unsigned char> messages;
        std::string said;
        if (ReadWholeFile(log, &messages, error)) said.assign(messages.begin(), messages.end());
        std::fputs(said.c_str(), err);
        if (spawnError == ENOENT)
            *error = "osslsigncode is not installed (Debian package osslsigncode)";
        else if (spawnError != 0)
            *error = std::string("cannot run osslsigncode: ") + std::strerror(spawnError);
        else if (said.find("mac verify failure") != std::string::npos)
            *error = "wrong password for " + options.pkcs12;
        else if (said.find("Failed to extract PKCS#12") != std::string::npos)
            *error = options.pkcs12 + " is not a PKCS#12 file";
        else
            *error = "osslsigncode could not sign the program (exit status " +
                     std::to_string(code) + ")";
        return EXIT_FAULT;
    }

    std::vector<unsigned char> result;
    if (!ReadWholeFile(signedTemp, &result, error)) {
        *error = "osslsigncode's output: " + *error;
        return EXIT_FAULT;
    }
    SignatureCheck check = CheckSignature(result.empty() ? nullptr : result.data(), result.size());
    if (check.state != SignatureState::Holds) {
        *error = "the program osslsigncode signed does not check out: " +
                 (check.reason.empty() ? std::string("no signature in it") : check.reason);
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
    return 0;
}
