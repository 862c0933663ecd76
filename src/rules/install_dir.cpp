// The install folder: read once per apply run from the registry key the package names.
#include <cstring>

#include "base/registry.h"
#include "base/text.h"
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

int UseDefaultFolder(const char* defaultFolder, char* installDir) {
    if (defaultFolder != nullptr && TextCopy(installDir, PATH_TEXT_SIZE, defaultFolder)) return 1;
    installDir[0] = '\0';
    return 0;
}

}  // namespace

int ResolveInstallDir(const PackageImage& image, const PackageHeader& header, char* installDir) {
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
    std::size_t length = 0;
    RegistryRead read = ReadRegistryValue(root.root, subKey, REGISTRY_KEY_READ, valueName, value,
                                          sizeof value, &length);
    if (read != REGISTRY_READ || length == 0) return UseDefaultFolder(defaultFolder, installDir);

    // The text ends at the first zero byte or at the data's end; 260 bytes without a zero
    // cannot be terminated in a path buffer.
    if (length > sizeof value) length = sizeof value;
    std::size_t textLength = TextLength(value, length);
    if (textLength >= sizeof value) {
        installDir[0] = '\0';
        return 0;
    }
    value[textLength] = '\0';

    if (subFolder == nullptr) {
        installDir[0] = '\0';
        return 0;
    }
    if (subFolder[0] == '\0') return TextCopy(installDir, PATH_TEXT_SIZE, value);
    // The backslash goes in even after one the value ends with.
    return TextFormat(installDir, PATH_TEXT_SIZE, "%s\\%s", value, subFolder);
}
