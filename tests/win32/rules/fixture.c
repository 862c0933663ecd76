int TidewellFixture(void) { return 1; }
