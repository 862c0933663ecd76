// SPDX-License-Identifier: MIT
#include "ui/instance.h"

#include <cstdint>

#include "base/text.h"
#include "ui/dialog_logic.h"

namespace {

// Whether the answer lets this copy go on. An object of another account is a standard user's,
// made to stop every run: never a copy (a copy's owner is SYSTEM, the Administrators or its
// user). Elevated, a mutex that cannot be opened is not a copy either: a copy grants SYSTEM and
// the Administrators every right on its own.
int MayRun(MutexAnswer answer, int elevated, int failedMayRun) {
    switch (answer) {
        case MUTEX_NEW:
        case MUTEX_PLANTED:
        case MUTEX_UNAVAILABLE:
            return 1;
        case MUTEX_HELD:
            return 0;
        case MUTEX_DENIED:
            return elevated;
        case MUTEX_FAILED:
            return failedMayRun;
    }
    return 0;
}

std::uint64_t Fnv1a(std::uint64_t hash, const char* text) {
    for (; *text; ++text) {
        hash ^= static_cast<unsigned char>(*text);
        hash *= 0x100000001b3ull;
    }
    return hash;
}

}  // namespace

void ProductInstanceName(const char* title, const char* registryKey, char* name) {
    std::uint64_t hash = Fnv1a(0xcbf29ce484222325ull, title ? title : "");
    hash = Fnv1a(hash ^ 0x5c, registryKey ? registryKey : "");
    TextFormat(name, INSTANCE_NAME_SIZE, "Tidewell-%08lX%08lX",
               static_cast<unsigned long>(hash >> 32),
               static_cast<unsigned long>(hash & 0xFFFFFFFFu));
}

int DecideSingleInstance(const char* productName) {
    int elevated = RunsElevated();
    // The design's name, unprefixed: the session's own namespace, which in session 0 (services,
    // deployment agents; XP's console user) is the global one.
    if (!MayRun(OpenInstanceMutex(SINGLE_INSTANCE_NAME, 0), elevated, 0)) return 0;
    // Across sessions: a name of this product's own, and where Windows has them in a namespace
    // only administrators can make objects in. Unprefixed and "Global\" name the same object in
    // session 0, so this one must be another name, or an agent's run would find its own mutex.
    MutexAnswer answer = OpenInstanceMutex(productName, 1);
    if (answer == MUTEX_UNAVAILABLE) {
        char globalName[INSTANCE_NAME_SIZE + 8];
        if (!TextFormat(globalName, sizeof globalName, "Global\\%s", productName)) return 1;
        answer = OpenInstanceMutex(globalName, 0);
    }
    return MayRun(answer, elevated, 1);
}
