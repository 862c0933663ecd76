// SPDX-License-Identifier: MIT
int TidewellFixture(void) { return 1; }
