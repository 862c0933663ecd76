// PLACEHOLDER, to be replaced by the real signature_win32.cpp at merge: just enough to build.
#include "signing/signature_seam.h"

const char* const OSSLSIGNCODE_MISSING =
    "osslsigncode.exe is not on PATH; sign with --sign-command instead";
const char* const PKCS11_ENGINE_PACKAGE = "the PKCS#11 engine of OpenSSL";
const char* const STDIN_FILE_NAME = "CONIN$";

bool DigestPieces(const std::string&,
                  const std::vector<std::pair<const unsigned char*, std::size_t>>&,
                  std::vector<unsigned char>*) {
    return false;
}

void CheckPkcs7(const Bytes&, const DigestLayout&, const unsigned char*, long,
                SignatureCheck* check, std::vector<SignatureCheck>*) {
    check->state = SignatureState::Broken;
    check->reason = "this build does not check signatures yet";
}

void ClearCryptoErrors() {}

std::string Pkcs11Engine() { return ""; }

std::vector<std::string> ChainSubjects(const std::string&) { return {}; }
