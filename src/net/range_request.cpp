// Portable range-request rules.
#include "net/range_request.h"

#include "base/text.h"

#include <cstring>

AfterCut NextAfterCut(RetryState& s, std::uint32_t have, bool hasTotal, std::uint32_t total, std::uint32_t* pauseMs) {
    ++s.attempts;
    if (hasTotal && have == total) return AfterCut::kFinish;
    if (have > s.furthest) {
        s.furthest = have;
        s.fruitless = 0;
    } else {
        ++s.fruitless;
    }
    if (s.fruitless >= kMostFruitlessAttempts || s.attempts >= kMostAttempts) return AfterCut::kGiveUp;
    *pauseMs = 1000u << (s.fruitless > 0 ? s.fruitless - 1 : 0);
    return AfterCut::kRetry;
}

bool IsWeakValidator(const char* validator) {
    return (validator[0] == 'W' || validator[0] == 'w') && validator[1] == '/';
}

bool BuildRangeHeaders(std::uint32_t from, const char* validator, char* out, std::size_t cap) {
    if (cap == 0) return false;
    out[0] = 0;
    if (IsWeakValidator(validator)) return false;
    for (const char* p = validator; *p != 0; ++p)
        if (static_cast<unsigned char>(*p) < 32 || *p == 127) return false;
    char digits[12];
    bool fits = FormatDecimal(from, digits, sizeof digits) && AppendText(out, cap, "Range: bytes=") &&
                AppendText(out, cap, digits) && AppendText(out, cap, "-\r\nIf-Range: ") &&
                AppendText(out, cap, validator) && AppendText(out, cap, "\r\n");
    if (!fits) out[0] = 0;
    return fits;
}

namespace {
// Digits after optional blanks, into a 32-bit value; the text after them, or null.
const char* ReadNumber(const char* p, std::uint32_t* value) {
    while (*p == ' ' || *p == '\t') ++p;
    if (*p < '0' || *p > '9') return nullptr;
    std::uint64_t v = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        v = v * 10 + static_cast<unsigned>(*p - '0');
        if (v > 0xFFFFFFFFu) return nullptr;
    }
    while (*p == ' ' || *p == '\t') ++p;
    *value = static_cast<std::uint32_t>(v);
    return p;
}
}  // namespace

bool ParseContentRange(const char* text, std::uint32_t* first, std::uint32_t* total) {
    static const char kUnit[] = "bytes ";
    if (std::strncmp(text, kUnit, sizeof kUnit - 1) != 0) return false;
    std::uint32_t last = 0;
    const char* p = ReadNumber(text + sizeof kUnit - 1, first);
    if (p == nullptr || *p != '-' || (p = ReadNumber(p + 1, &last)) == nullptr || *p != '/' ||
        (p = ReadNumber(p + 1, total)) == nullptr || *p != 0)
        return false;
    return *first <= last && last < *total;
}
