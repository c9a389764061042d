// Bounded text helpers, portable.
#include "base/text.h"

#include <cstring>

std::size_t CopyText(char* dst, std::size_t cap, const char* src) {
    std::size_t n = 0;
    while (n + 1 < cap && src[n] != 0) {
        dst[n] = src[n];
        ++n;
    }
    dst[n] = 0;
    return n;
}

bool AppendText(char* dst, std::size_t cap, const char* src) {
    std::size_t have = std::strlen(dst);
    std::size_t add = std::strlen(src);
    if (have + add + 1 > cap) return false;
    std::memcpy(dst + have, src, add + 1);
    return true;
}

bool FormatDecimal(std::uint32_t value, char* out, std::size_t cap) {
    char digits[10];
    std::size_t n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    if (n + 1 > cap) return false;
    for (std::size_t k = 0; k < n; ++k) out[k] = digits[n - 1 - k];
    out[n] = 0;
    return true;
}

const std::uint16_t* StringInBlock(const std::uint16_t* block, std::size_t units, unsigned index, std::size_t* length) {
    std::size_t at = 0;
    for (unsigned k = 0;; ++k) {
        if (at >= units || units - at - 1 < block[at]) return nullptr;
        if (k == index) {
            *length = block[at];
            return block + at + 1;
        }
        at += 1 + static_cast<std::size_t>(block[at]);
    }
}
