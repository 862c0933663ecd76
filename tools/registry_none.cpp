// tidepack resolves targets against folders it is given and reads no registry; the target
// rules still name the registry read, which here never finds a key.
#include "base/registry.h"

RegistryRead ReadRegistryValue(RegistryRoot, const char*, unsigned, const char*, char*, std::size_t,
                               std::size_t*) {
    return REGISTRY_NO_KEY;
}
