// SPDX-License-Identifier: MIT
// A dry run of the whole apply run over an arbitrary byte image as its package: every entry,
// its target, its shortcut text and every move record, against the recording fake, which
// touches no real file or process. Beyond memory safety it checks what every run must keep:
// the package and each entry buffer freed, the bar never going back, and a completed run
// ending at 100.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "fakes/engine_fake.h"
#include "package/package.h"

namespace {

// Entries claiming more than this are given a failed allocation, as a machine without the
// memory would: the fuzzer picks `size` freely, and inflating gigabytes tells us nothing.
constexpr std::uint32_t LARGEST_ENTRY = 1u << 18;

void Fail(const char* what) {
    std::fprintf(stderr, "apply_run: %s\n", what);
    std::abort();
}

int ProgressOf(const std::string& call, int* position) {
    static const std::string prefix = "SetProgress ";
    if (call.compare(0, prefix.size(), prefix) != 0) return 0;
    *position = std::atoi(call.c_str() + prefix.size());
    return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 0xFFFFFFFFu) return 0;
    FakeEngineReset();
    FakeEngine& state = FakeEngineState();
    // Exactly `size` bytes, so that ASan sees every read past the end.
    state.package.assign(data, data + size);
    // A listed application of this class counts as running, so the blocked end is reached.
    state.runningClasses.insert("Busy");

    PackageImage image{state.package.data(), static_cast<std::uint32_t>(size)};
    const PackageEntry* entry;
    for (std::int32_t i = 0; GetPackageEntry(image, i, &entry); ++i) {
        if (entry->size > LARGEST_ENTRY) state.failingAllocs.insert(std::size_t{entry->size} + 1);
    }

    int completed = RunUpdate(nullptr);

    if (state.loadsHeld != 0) Fail("the package was not freed");
    if (state.buffersHeld != 0) Fail("an entry buffer was not freed");
    int last = -1, position;
    for (const std::string& call : state.calls) {
        if (!ProgressOf(call, &position)) continue;
        if (position < 0 || position > 100) Fail("a bar position outside 0..100");
        if (position < last) Fail("the bar went back");
        last = position;
    }
    if (completed && last != 100) Fail("a completed run did not end at 100");
    return 0;
}
