// SPDX-License-Identifier: MIT
// The demo product's core library. The update brings a newer one; the version rule lets it in.
extern "C" __declspec(dllexport) int NoteCoreVersion() { return DEMO_VERSION_NUMBER; }
