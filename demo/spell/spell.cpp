// SPDX-License-Identifier: MIT
// The demo product's spelling library. The installation already has a newer one than the
// package brings, so the version rule keeps it.
extern "C" __declspec(dllexport) int SpellVersion() { return DEMO_VERSION_NUMBER; }
