// The notice text's size line, its two placeholders and its line-by-line rotation.
#pragma once
#include <cstddef>
#include <cstdint>

// Reads the size line: white space, one optional sign, digits; wraps modulo 2^32 like 32-bit
// arithmetic; no digits give 0.
std::int32_t ParseSizeLine(const char* line);

// Expands "[CASINO_NAME]" and "[CASINO_ADDRESS]" into out (cap bytes). The result is cut at the
// buffer's end and always terminated. Returns its length.
std::size_t ExpandNoticePlaceholders(const char* text, const char* name, const char* address,
                                     char* out, std::size_t cap);

// Builds the view shown at a tick: the text from cursor to its end, then what stands before the
// cursor. out holds cap bytes and is always terminated.
void ComposeNoticeView(const char* start, const char* cursor, char* out, std::size_t cap);

// The cursor for the next tick: past the next LF at or after cursor, else past the first LF of
// the text; a text without any LF keeps the cursor at its start.
const char* AdvanceNoticeCursor(const char* start, const char* cursor);
