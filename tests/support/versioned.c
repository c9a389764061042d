/* A DLL that exists only to carry a chosen file version (see versioned.rc.in). */
int versioned_marker(void) { return 1; }
