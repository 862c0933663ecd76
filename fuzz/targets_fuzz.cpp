// SPDX-License-Identifier: MIT
// Where a packaged file goes, on its own: the install folder from any header and any registry
// value, and every entry's target from its file name and folder, as the apply run asks for
// them. No path may leave its 260-byte buffer, and a path that is given must be terminated.
//
// Input: a byte of choices (among them the ANSI code page, 932 or 1252), two bytes giving the
// length n of the registry value, n bytes of that value's raw data, then the package image.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/text.h"
#include "fakes/registry_fake.h"
#include "fakes/rules_fake.h"
#include "fakes/system_fake.h"
#include "package/package.h"
#include "rules/targets.h"

namespace {

void Fail(const char* what) {
    std::fprintf(stderr, "targets: %s\n", what);
    std::abort();
}

// The value under every key the header's text could name, so the fuzzer meets the read.
void SetValueForKey(const char* registryKey, const char* valueName, const std::string& data) {
    for (RegistryRoot root :
         {REGISTRY_LOCAL_MACHINE, REGISTRY_CURRENT_USER, REGISTRY_CLASSES_ROOT}) {
        for (std::size_t skip : {18, 19}) {
            if (TextLength(registryKey, skip) == skip)
                FakeRegistrySetValue(root, registryKey + skip, valueName, data);
        }
    }
}

void CheckPath(const char* path) {
    if (TextLength(path, PATH_TEXT_SIZE) >= PATH_TEXT_SIZE) Fail("a path without its terminator");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3 || size > 0xFFFFFFFFu) return 0;
    unsigned choices = data[0];
    std::size_t valueLength = data[1] | ((data[2] & 1u) << 8);
    if (size - 3 < valueLength) return 0;
    std::string value(reinterpret_cast<const char*>(data + 3), valueLength);
    // Exactly the image's bytes, so that ASan sees every read past its end.
    std::vector<unsigned char> bytes(data + 3 + valueLength, data + size);
    PackageImage image{bytes.data(), static_cast<std::uint32_t>(bytes.size())};
    const PackageHeader* header;
    if (!GetPackageHeader(image, &header)) return 0;

    FakeRegistryReset();
    FakeSystemSetCodePage(choices & 8 ? 932 : 1252);
    if (choices & 1)
        FakeSetWindowsFolders(nullptr, nullptr);
    else if (choices & 2)
        FakeSetWindowsFolders("C:\\WINDOWS\\", std::string(250, 's').c_str());
    else
        FakeResetWindowsFolders();
    const char* registryKey = PackageText(image, header->registryKey);
    const char* valueName = PackageText(image, header->valueName);
    if (registryKey && valueName && !(choices & 4)) SetValueForKey(registryKey, valueName, value);

    char installDir[PATH_TEXT_SIZE];
    std::memset(installDir, 0x5A, sizeof installDir);
    int haveInstallDir = ResolveInstallDir(image, *header, installDir);
    CheckPath(installDir);

    const PackageEntry* entry;
    for (std::int32_t i = 0; i < header->entryCount && GetPackageEntry(image, i, &entry); ++i) {
        const char* fileName = PackageText(image, entry->fileName);
        const char* folder = PackageText(image, entry->folder);
        if (!fileName || !folder) continue;
        char target[PATH_TEXT_SIZE];
        std::memset(target, 0x5A, sizeof target);
        if (ResolveTargetPath(fileName, folder, haveInstallDir ? installDir : nullptr, target))
            CheckPath(target);
    }
    return 0;
}
