// Text that operators write in UTF-8, turned into the ANSI code page that the loader's players
// read it in (and back, to show it), with glibc's iconv. Nothing is approximated: a character
// the code page cannot show is refused, naming its line.
#pragma once
#include <string>
#include <vector>

// Converts UTF-8 text (a leading byte-order mark dropped) into Windows code page `codePage`.
// On failure returns false with `error` naming the line and the character, or saying that the
// text is not UTF-8.
bool FromUtf8(const std::string& utf8, unsigned codePage, std::string& out, std::string& error);
// Converts text in Windows code page `codePage` into UTF-8; false for bytes the code page
// leaves undefined.
bool ToUtf8(const std::string& text, unsigned codePage, std::string& out);
