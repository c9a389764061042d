// The kit's one way of stamping a program, shared by `stamp` and the download endpoint, so both
// store the names as the loader reads them and treat an existing stamp alike.
#pragma once
#include <string>
#include <vector>

#include "stamp/stamp_writer.h"

using stamp::kNamesCodePage;

// Control characters and backslashes escaped as \xNN; bytes above 127 too, unless the text is UTF-8.
std::string Printable(const std::string& s, bool utf8 = false);

// Turns the UTF-8 name, address and company of `f` into kNamesCodePage in place; `labels` name
// the three in a message. False, with `error` set, for text the code page cannot hold.
bool EncodeStampNames(StampFields& f, const char* const labels[3], std::string& error);

// Places the stamp built from `f` into `program`; a signed program keeps its signature. A stamp
// already there is removed first when `replace`, and refused otherwise. Returns an empty
// string, or why the program cannot be stamped.
std::string StampProgram(std::vector<unsigned char>& program, const StampFields& f, bool replace);
