// The notice text's size line, its two placeholders and its line-by-line rotation.
#pragma once
#include <cstddef>
#include <cstdint>

// Reads the size line: white space, one optional sign, digits; wraps modulo 2^32 like 32-bit
// arithmetic; no digits give 0.
std::int32_t ParseSizeLine(const char* line);

// Decodes n bytes of text in a code page into out (room for cap wide characters, cap >= n);
// returns how many it wrote, 0 when it cannot. The code pages of the loader's languages, and
// any system's ANSI code page, give at most one wide character per byte.
using NoticeDecoder = std::size_t (*)(unsigned codePage, const char* text, std::size_t n, wchar_t* out,
                                      std::size_t cap);

// A text that a placeholder inserts, and the code page that its bytes are in.
struct NoticeName {
    const char* text;
    unsigned codePage;
};

// Expands "[CASINO_NAME]" and "[CASINO_ADDRESS]" in text, whose bytes are in codePage, into wide
// text in out (cap characters): the text around them is decoded with codePage, each name with
// its own. The result is cut at the buffer's end and always terminated. Returns its length.
std::size_t ExpandNoticeText(const char* text, unsigned codePage, const NoticeName& name, const NoticeName& address,
                             NoticeDecoder decode, wchar_t* out, std::size_t cap);

// Builds the view shown at a tick: the text from cursor to its end, then what stands before the
// cursor. out holds cap bytes and is always terminated.
void ComposeNoticeView(const char* start, const char* cursor, char* out, std::size_t cap);

// The cursor for the next tick: past the next LF at or after cursor, else past the first LF of
// the text; a text without any LF keeps the cursor at its start.
const char* AdvanceNoticeCursor(const char* start, const char* cursor);
