// Portable: the table walk and its inverse. The loader only ever unscrambles; the inverse is
// kept beside the table so that the kit and the test site cannot drift from it.
#include "net/scrambler.h"

#include <cstdlib>
#include <cstring>

const unsigned char SubstitutionTable[256] = {
#include "net/substitution_table.inc"
};

char* UnscrambleInPlace(char* text) {
    unsigned char* p = reinterpret_cast<unsigned char*>(text);
    while (*p != 0) {
        *p = SubstitutionTable[*p];
        ++p;
    }
    return reinterpret_cast<char*>(p);
}

void ScrambleBytes(char* text, std::size_t length) {
    unsigned char inverse[256];
    for (int b = 0; b < 256; ++b) inverse[SubstitutionTable[b]] = static_cast<unsigned char>(b);
    for (std::size_t i = 0; i < length; ++i) {
        text[i] = static_cast<char>(inverse[static_cast<unsigned char>(text[i])]);
    }
}

char* UnscrambledCopy(const char* scrambled) {
    std::size_t n = std::strlen(scrambled);
    char* copy = static_cast<char*>(std::malloc(n + 1));
    if (copy == nullptr) return nullptr;
    std::memcpy(copy, scrambled, n + 1);
    UnscrambleInPlace(copy);
    return copy;
}
