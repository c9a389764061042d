// Command-line rules of the entry point, portable.
#include "app/command_line.h"

#include "base/text.h"

#include <cstring>

char* CommandLineTail(char* commandLine) {
    if (commandLine == nullptr) return nullptr;
    // As the C runtime splits it: a quote toggles quoting anywhere in the program's name, and
    // every control character or space after the name is skipped.
    unsigned char* p = reinterpret_cast<unsigned char*>(commandLine);
    bool quoted = false;
    while (*p > ' ' || (*p != 0 && quoted)) {
        if (*p == '"') quoted = !quoted;
        ++p;
    }
    while (*p != 0 && *p <= ' ') ++p;
    return reinterpret_cast<char*>(p);
}

bool ParseHandOption(const char* tail, char* dst, std::size_t cap) {
    if (tail == nullptr || std::strncmp(tail, "HAND ", 5) != 0) return false;
    CopyText(dst, cap, tail + 5);
    return true;
}
