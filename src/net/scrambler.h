// Byte substitution shared with the configuration server: replies and the built-in
// configuration strings are stored scrambled and turned back into text in place.
#pragma once
#include <cstddef>

extern const unsigned char SubstitutionTable[256];

// Replaces every byte before the first NUL by its table entry; returns the terminator.
char* UnscrambleInPlace(char* text);

// The inverse direction, for the operators' tools and the test site; the loader never scrambles.
void ScrambleBytes(char* text, std::size_t length);

// Fresh heap copy (length + 1 bytes) of a stored scrambled constant, unscrambled; free() it.
char* UnscrambledCopy(const char* scrambled);
