// SPDX-License-Identifier: MIT
// The install folder: read once per apply run from the registry key the package names.
#include <cstring>

#include "base/registry.h"
#include "base/text.h"
#include "rules/rules_seam.h"
#include "rules/targets.h"

namespace {

struct RootName {
    const char* name;
    RegistryRoot root;
    std::size_t subKeyStart;  // the character right after the name is a separator, not looked at
};

constexpr RootName ROOT_NAMES[] = {
    {"HKEY_LOCAL_MACHINE", REGISTRY_LOCAL_MACHINE, 19},
    {"HKEY_CURRENT_USER", REGISTRY_CURRENT_USER, 18},
    {"HKEY_CLASSES_ROOT", REGISTRY_CLASSES_ROOT, 18},
};

// A key with no root name is still read past a root-sized head, never taken whole.
constexpr RootName NO_ROOT_NAME = {"", REGISTRY_LOCAL_MACHINE, 19};

const RootName& ChooseRoot(const char* registryKey) {
    for (const RootName& root : ROOT_NAMES)
        if (BeginsWithName(registryKey, root.name)) return root;
    return NO_ROOT_NAME;
}

// "X:\..." or "\\server\...": a bare drive ("C:") or a relative path would be resolved
// against the current folder.
int IsAbsoluteFolder(const char* folder) {
    char drive = static_cast<char>(folder[0] | 0x20);
    if (drive >= 'a' && drive <= 'z' && folder[1] == ':')
        return folder[2] == '\\' || folder[2] == '/';
    return folder[0] == '\\' && folder[1] == '\\' && folder[2] != '\0';
}

int UseDefaultFolder(const char* defaultFolder, char* installDir) {
    if (defaultFolder != nullptr && TextCopy(installDir, PATH_TEXT_SIZE, defaultFolder)) return 1;
    installDir[0] = '\0';
    return 0;
}

}  // namespace

int ResolveInstallDir(const PackageImage& image, const PackageHeader& header, char* installDir) {
    unsigned view;
    return ResolveInstallDirView(image, header, installDir, &view);
}

int ResolveInstallDirView(const PackageImage& image, const PackageHeader& header, char* installDir,
                          unsigned* view, InstallDirSource* source) {
    InstallDirSource ignored;
    if (!source) source = &ignored;
    source->fromRegistry = 0;
    source->view = 0;
    *view = 0;
    const char* registryKey = PackageText(image, header.registryKey);
    const char* valueName = PackageText(image, header.valueName);
    const char* defaultFolder = PackageText(image, header.defaultFolder);
    const char* subFolder = PackageText(image, header.subFolder);
    // Without a whole key and value name there is nothing to read: as a key that did not open.
    if (registryKey == nullptr || valueName == nullptr)
        return UseDefaultFolder(defaultFolder, installDir);

    const RootName& root = ChooseRoot(registryKey);
    // The name may be all there is (or less, without a root name): the root key itself is read.
    const char* subKey = "";
    if (TextLength(registryKey, root.subKeyStart) == root.subKeyStart)
        subKey = registryKey + root.subKeyStart;

    char value[PATH_TEXT_SIZE];
    RegistryRead read = ReadRegistryFolder(root.root, subKey, REGISTRY_KEY_READ, valueName, value);
    // A 64-bit product's installer records its folder where a 32-bit program on 64-bit Windows
    // does not look by default. The 32-bit view stays first, so a package that found its folder
    // there finds the same one.
    if (read == REGISTRY_NO_KEY || read == REGISTRY_NO_VALUE) {
        read = ReadRegistryFolder(root.root, subKey, REGISTRY_KEY_READ | REGISTRY_KEY_64_BIT_VIEW,
                                  valueName, value);
        *view = REGISTRY_KEY_64_BIT_VIEW;
    }
    if (read == REGISTRY_NO_KEY || read == REGISTRY_NO_VALUE) {
        *view = 0;
        return UseDefaultFolder(defaultFolder, installDir);
    }
    // A value an older 32-bit install left behind, naming a folder that is gone, must not hide
    // the 64-bit product's folder.
    if (read == REGISTRY_READ && IsAbsoluteFolder(value) && !InstallFolderExists(value)) {
        char value64[PATH_TEXT_SIZE];
        if (ReadRegistryFolder(root.root, subKey, REGISTRY_KEY_READ | REGISTRY_KEY_64_BIT_VIEW,
                               valueName, value64) == REGISTRY_READ &&
            IsAbsoluteFolder(value64) && InstallFolderExists(value64)) {
            TextCopy(value, sizeof value, value64);
            *view = REGISTRY_KEY_64_BIT_VIEW;
        }
    }

    source->fromRegistry = 1;
    source->view = *view;
    // A value that names no folder, or one that is not absolute (which Windows would resolve
    // against the current folder, where the program was downloaded), gives no install folder:
    // the default folder may be an older install elsewhere.
    if (read != REGISTRY_READ || !IsAbsoluteFolder(value) || subFolder == nullptr) {
        installDir[0] = '\0';
        return 0;
    }
    if (subFolder[0] == '\0') return TextCopy(installDir, PATH_TEXT_SIZE, value);
    // The backslash goes in even after one the value ends with.
    return TextFormat(installDir, PATH_TEXT_SIZE, "%s\\%s", value, subFolder);
}
