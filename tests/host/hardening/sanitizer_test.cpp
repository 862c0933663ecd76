// SPDX-License-Identifier: MIT
// The sanitizer tier must really check for leaks: LeakSanitizer runs with ASan on Linux
// unless someone turns it off (ASAN_OPTIONS=detect_leaks=0, or a suppression), and then a
// leak in our code would pass unseen.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__)
#define TIDEWELL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TIDEWELL_ASAN 1
#endif
#endif

#ifdef TIDEWELL_ASAN
#include <sanitizer/lsan_interface.h>
#endif

namespace {

TEST(Sanitizers, LeakSanitizerFindsALeak) {
#ifndef TIDEWELL_ASAN
    GTEST_SKIP() << "not a sanitizer build (preset host-asan)";
#else
    // The block's address is kept only in a scrambled form, so no scan can find it: a leak
    // until it is freed below.
    static volatile std::uintptr_t hidden;
    hidden = reinterpret_cast<std::uintptr_t>(std::malloc(48)) ^ 0xA5A5A5A5u;
    std::fprintf(stderr,
                 "A deliberate leak of 48 bytes follows: the proof that leaks are found.\n");
    int found = __lsan_do_recoverable_leak_check();
    std::free(reinterpret_cast<void*>(hidden ^ 0xA5A5A5A5u));
    EXPECT_EQ(1, found) << "LeakSanitizer is off: check ASAN_OPTIONS and LSAN_OPTIONS";
#endif
}

}  // namespace
