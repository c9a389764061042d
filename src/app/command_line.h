// The entry point's command line: the arguments after the program's name and the "HAND " option.
#pragma once
#include <cstddef>

// The arguments after the program name of a command line (what WinMain receives), split as the
// C runtime splits it: the name runs to the first blank outside quotes, then blanks are skipped.
char* CommandLineTail(char* commandLine);

// "HAND " option: copies the URL after the exact prefix into dst (cap bytes, always terminated,
// at most cap - 1 characters). Returns true when the tail carried the option.
bool ParseHandOption(const char* tail, char* dst, std::size_t cap);
