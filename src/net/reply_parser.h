// Readers of the configuration server's key=value|key=value replies. They work in place on the
// reply text, never allocate, and leave the text byte for byte as they found it.
#pragma once
#include <cstddef>
#include <cstdint>

// Pointer to the first character of key's value in text, or nullptr when key has no field.
const char* FindReplyField(const char* text, const char* key);

// Reads key's field of text as an integer (digits and '-' only, up to '|' or the end).
int ReadReplyInt(const char* text, const char* key, std::int32_t* out);

// Copies key's value with every LF written as CR LF. A value whose copy (with its NUL) would
// not fit into cap bytes is refused like a missing field. dest may be null to test presence.
int ReadReplyText(const char* text, const char* key, char* dest, std::size_t cap);

// The same over the shared ReplyBuffer; 0 at once when it does not exist.
int GetReplyInt(const char* key, std::int32_t* out);
int GetReplyText(const char* key, char* dest, std::size_t cap);
