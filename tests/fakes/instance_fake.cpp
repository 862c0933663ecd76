// SPDX-License-Identifier: MIT
// Names resolve as "Kernel object namespaces" (learn.microsoft.com, Terminal Services) documents:
// "Global\" names the global namespace; an unprefixed or "Local\" name the session's own, except
// in session 0, where services run and whose objects are the global namespace itself. A private
// namespace ("Object Namespaces", CreatePrivateNamespace) is its own directory, and a process may
// create or open it only when its token holds the boundary's SID, here the Administrators group
// (enabled only in an elevated token, and in SYSTEM's).
#include "fakes/instance_fake.h"

#include "ui/instance.h"

FakeInstance& FakeInstanceState() {
    static FakeInstance state;
    return state;
}

void FakeInstanceReset() { FakeInstanceState() = FakeInstance(); }

namespace {

bool IsAdministrator(const std::string& account) {
    return account == "SYSTEM" || account == "Administrators";
}

std::string Without(const std::string& name, const std::string& prefix) {
    return name.compare(0, prefix.size(), prefix) == 0 ? name.substr(prefix.size()) : name;
}

}  // namespace

std::string FakeResolveName(const std::string& name, int privateNamespace) {
    const FakeInstance& state = FakeInstanceState();
    if (privateNamespace) return "\\Private{Administrators}\\" + name;
    if (name.compare(0, 7, "Global\\") == 0) return "\\BaseNamedObjects\\" + name.substr(7);
    std::string local = Without(name, "Local\\");
    if (state.session == 0) return "\\BaseNamedObjects\\" + local;
    return "\\Sessions\\" + std::to_string(state.session) + "\\BaseNamedObjects\\" + local;
}

int RunsElevated() { return IsAdministrator(FakeInstanceState().account); }

MutexAnswer OpenInstanceMutex(const char* name, int privateNamespace) {
    FakeInstance& state = FakeInstanceState();
    if (privateNamespace && (!state.privateNamespaces || !IsAdministrator(state.account)))
        return MUTEX_UNAVAILABLE;
    std::string object = FakeResolveName(name, privateNamespace);
    auto found = state.objects.find(object);
    if (found == state.objects.end()) {
        state.objects[object] = state.account;
        return MUTEX_NEW;
    }
    const std::string& owner = found->second;
    // A copy gives SYSTEM, the Administrators and its own account every right; a planted object
    // may give nobody else any.
    if (owner != state.account && !IsAdministrator(owner)) return MUTEX_PLANTED;
    return MUTEX_HELD;
}
