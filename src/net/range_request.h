// Resuming a cut download: the request headers that ask for the rest of the file, and the
// Content-Range of the answer. Used by the worker of a LOADER_RESILIENT_DOWNLOAD build.
#pragma once
#include <cstddef>
#include <cstdint>

// "Range: bytes=FROM-" and "If-Range: VALIDATOR", each ended by CR LF, into out (cap bytes,
// always terminated). False, with out empty, when they do not fit or the validator holds a
// control character (it would end the header early, or start another).
bool BuildRangeHeaders(std::uint32_t from, const char* validator, char* out, std::size_t cap);

// Reads "bytes FIRST-LAST/TOTAL" (blanks allowed around the numbers). False for anything else,
// for an unknown total ("*"), for a last byte before the first or at or past the total, and
// for a number beyond 32 bits.
bool ParseContentRange(const char* text, std::uint32_t* first, std::uint32_t* total);
