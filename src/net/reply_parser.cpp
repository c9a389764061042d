// Portable reply readers. The value is never terminated in place: its end is found by scanning,
// so the reply needs no writable copy and stays unchanged for the next field.
#include "net/reply_parser.h"

#include "base/loader_state.h"

#include <cstring>

namespace {
bool IsKeyChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

std::size_t ValueLength(const char* value) {
    std::size_t n = 0;
    while (value[n] != 0 && value[n] != '|') ++n;
    return n;
}
}  // namespace

const char* FindReplyField(const char* text, const char* key) {
    if (text == nullptr || key == nullptr || key[0] == 0) return nullptr;
    const char* search = text;
    for (;;) {
        const char* hit = std::strstr(search, key);
        if (hit == nullptr) return nullptr;
        std::size_t keyLength = std::strlen(key);
        bool atFieldStart = hit == search || hit[-1] == '|';
        if (atFieldStart && hit[keyLength] == '=') {
            const char* p = hit;
            while (IsKeyChar(*p)) ++p;
            return *p == '=' ? p + 1 : nullptr;
        }
        search = hit + 1;
        if (*search == 0) return nullptr;
    }
}

int ReadReplyInt(const char* text, const char* key, std::int32_t* out) {
    const char* value = FindReplyField(text, key);
    if (value == nullptr) return 0;
    const char* p = value;
    while ((*p >= '0' && *p <= '9') || *p == '-') ++p;
    if (*p != '|' && *p != 0) return 0;
    // atoi's reading: one optional '-', then digits. Out-of-range values wrap modulo 2^32,
    // computed unsigned so that no signed overflow can occur.
    const char* q = value;
    bool negative = false;
    if (*q == '-') {
        negative = true;
        ++q;
    }
    std::uint32_t magnitude = 0;
    while (q < p && *q >= '0' && *q <= '9') {
        magnitude = magnitude * 10u + static_cast<std::uint32_t>(*q - '0');
        ++q;
    }
    std::uint32_t bits = negative ? 0u - magnitude : magnitude;
    if (out != nullptr) *out = static_cast<std::int32_t>(bits);
    return 1;
}

int ReadReplyText(const char* text, const char* key, char* dest, std::size_t cap) {
    const char* value = FindReplyField(text, key);
    if (value == nullptr) return 0;
    if (dest == nullptr) return 1;
    std::size_t length = ValueLength(value);
    std::size_t needed = length + 1;
    for (std::size_t i = 0; i < length; ++i) {
        if (value[i] == '\n') ++needed;
    }
    if (needed > cap) return 0;
    std::size_t w = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (value[i] == '\n') dest[w++] = '\r';
        dest[w++] = value[i];
    }
    dest[w] = 0;
    return 1;
}

int GetReplyInt(const char* key, std::int32_t* out) {
    if (ReplyBuffer == nullptr) return 0;
    return ReadReplyInt(ReplyBuffer, key, out);
}

int GetReplyText(const char* key, char* dest, std::size_t cap) {
    if (ReplyBuffer == nullptr) return 0;
    return ReadReplyText(ReplyBuffer, key, dest, cap);
}
