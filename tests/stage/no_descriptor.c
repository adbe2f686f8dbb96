/* A plain shared library: loads, but exports no module descriptor. */
int stage_test_plain_library_value(void) { return 42; }
