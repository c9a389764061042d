// The two bounded text helpers that every copy into a fixed buffer goes through.
#pragma once
#include <cstddef>
#include <cstdint>

// Bounded copy that always terminates dst (cap > 0); returns the length copied.
std::size_t CopyText(char* dst, std::size_t cap, const char* src);
// Appends src to the text in dst if the whole of it fits with the NUL; returns false otherwise
// and leaves dst unchanged.
bool AppendText(char* dst, std::size_t cap, const char* src);
// String index (0 to 15) of a string-table block: units UTF-16 units, each string a length unit
// and that many units. Its first unit, or null when the block ends before it; *length is its
// length (0 for an empty string).
const std::uint16_t* StringInBlock(const std::uint16_t* block, std::size_t units, unsigned index, std::size_t* length);
// Writes value in decimal into out (cap bytes, terminated). Returns false when it does not fit.
bool FormatDecimal(std::uint32_t value, char* out, std::size_t cap);
