// SPDX-License-Identifier: MIT
// A program as tidepack takes it: given as the stub to write a package into, or given to list
// and verify, which read its resources and its signature (and the DER in it, as the Windows
// build reads it), and the identity they show. No read may leave the image, and a program the
// writer accepts must carry the package and take another one the same way, with a vendor's
// version texts and icon too.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "program/identity.h"
#include "program/pe_resource.h"
#include "program/pe_writer.h"
#include "signing/der.h"
#include "signing/sign.h"

namespace {

bool CarriesPackage(const std::vector<unsigned char>& program,
                    const std::vector<unsigned char>& package) {
    PeResource found;
    std::string error;
    return FindPeResource(program.data(), program.size(), 10, 1, 1033, &found, &error) &&
           found.size == package.size() &&
           std::memcmp(program.data() + found.offset, package.data(), package.size()) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A copy of exactly `size` bytes, so that ASan sees every read past the end.
    std::vector<unsigned char> stub(data, data + size);
    PeResource found;
    std::string error;
    FindPeResource(stub.data(), stub.size(), 10, 1, 1033, &found, &error);
    PeLayout layout;
    if (ReadPeLayout(stub.data(), stub.size(), &layout, &error)) {
        PeResourceTree tree;
        ReadPeResourceTree(stub.data(), stub.size(), layout, &tree, &error);
    }
    CheckSignature(stub.data(), stub.size());
    Report shown;
    ReportIdentity("fuzz", stub, true, &shown);
    // The DER the Windows build reads from a signature: a certificate's name, the signed digest.
    NameText(stub.data(), stub.size());
    std::string oid;
    std::vector<unsigned char> digest;
    const unsigned char* content = nullptr;
    std::size_t length = 0;
    ReadSpcIndirectData(stub.data(), stub.size(), &oid, &digest, &content, &length);

    const std::vector<unsigned char> first(300, 0x5A), second(5000, 0xA5);
    std::vector<unsigned char> program, again;
    if (!WriteProgramResources(stub, first, "asInvoker", &program, &error)) return 0;
    if (!CarriesPackage(program, first)) std::abort();
    if (!WriteProgramResources(program, second, "requireAdministrator", &again, &error) ||
        !CarriesPackage(again, second))
        std::abort();
    // One 1x1 bitmap image: its directory, its header, a pixel and its mask row.
    ProgramIdentity identity;
    identity.strings = {{"CompanyName", "みなとソフト"}, {"Comments", "new"}};
    identity.haveFileVersion = true;
    identity.icon = {0, 0, 1, 0,  1, 0, 1, 1, 0, 0, 1, 0, 32, 0, 48, 0, 0, 0,  22,
                     0, 0, 0, 40, 0, 0, 0, 1, 0, 0, 0, 2, 0,  0, 0,  1, 0, 32, 0};
    identity.icon.resize(22 + 48, 0);
    if (WriteProgramResources(stub, first, "asInvoker", &again, &error, &identity) &&
        !CarriesPackage(again, first))
        std::abort();
    return 0;
}
