// Reading a report strictly: a report that is not exactly what a loader sends is refused whole,
// so the store holds nothing that a loader could not have said.
#include "endpoint/report_query.h"

#include <cstring>

#include "endpoint/download_query.h"

namespace {
bool OneOf(const std::string& value, std::initializer_list<const char*> allowed) {
    for (const char* a : allowed)
        if (value == a) return true;
    return false;
}

// value's characters are all in `allowed` and it has at most `most` of them.
bool Within(const std::string& value, std::size_t most, bool (*allowed)(char)) {
    if (value.size() > most) return false;
    for (char c : value)
        if (!allowed(c)) return false;
    return true;
}

bool Digit(char c) { return c >= '0' && c <= '9'; }
bool Upper(char c) { return c >= 'A' && c <= 'Z'; }
bool Version(char c) { return Digit(c) || c == '.'; }

// A decimal number of 1 to 10 digits that fits 32 bits.
bool Number(const std::string& value, std::uint32_t* out) {
    if (value.empty() || !Within(value, 10, Digit)) return false;
    unsigned long long n = 0;
    for (char c : value) n = n * 10 + static_cast<unsigned>(c - '0');
    if (n > 0xFFFFFFFFull) return false;
    *out = static_cast<std::uint32_t>(n);
    return true;
}
}  // namespace

bool ReadReport(const std::string& query, Report* r, std::string* why) {
    if (query.size() > kMostQueryBytes) return *why = "query over 1 KB", false;
    static const char* const kKeys[] = {"v", "event", "outcome", "id", "tag", "lang", "os", "wow64", "build",
                                        "bytes", "total", "discover_ms", "download_ms", "http", "error", "attempts"};
    constexpr int kKeyCount = sizeof kKeys / sizeof kKeys[0];
    std::string values[kKeyCount];
    bool seen[kKeyCount] = {};
    bool taken = ForEachQueryField(query, [&](const std::string& key, const std::string& value, bool hasValue) {
        int k = 0;
        while (k < kKeyCount && key != kKeys[k]) ++k;
        if (!hasValue) *why = "a field without '='";
        else if (k == kKeyCount) *why = "unknown field '" + key.substr(0, 32) + "'";
        else if (seen[k]) *why = "field " + key + " given more than once";
        else {
            seen[k] = true;
            values[k] = value;
            return true;
        }
        return false;
    });
    if (!taken) return false;
    Report out;
    if (!seen[0] || values[0] != "1") return *why = "v must be 1", false;
    out.event = values[1];
    if (!OneOf(out.event, {"chosen", "cancelled", "end"})) return *why = "event must be chosen, cancelled or end", false;
    bool end = out.event == "end";
    out.outcome = values[2];
    if (end ? !OneOf(out.outcome, {"installer-started", "message-3", "message-4", "message-5", "message-7"})
            : seen[2])
        return *why = end ? "an unknown outcome" : "outcome goes with event=end only", false;
    out.id = values[3];
    out.tag = values[4];
    out.lang = values[5];
    out.os = values[6];
    out.build = values[8];
    if (!Within(out.id, 20, HexCharacter)) return *why = "id must be at most 20 hex digits", false;
    if (!Within(out.tag, kMostTagBytes, TagCharacter)) return *why = "tag must be at most 11 letters, digits or '-'", false;
    if (out.lang.size() != 3 || !Within(out.lang, 3, Upper)) return *why = "lang must be three capital letters", false;
    if (out.os.empty() || !Within(out.os, 24, Version)) return *why = "os must be major.minor.build", false;
    if (values[7] != "0" && values[7] != "1") return *why = "wow64 must be 0 or 1", false;
    out.wow64 = values[7] == "1";
    if (!OneOf(out.build, {"paced", "resilient"})) return *why = "build must be paced or resilient", false;
    std::uint32_t* numbers[] = {&out.bytes, &out.total, &out.discoverMs, &out.downloadMs, &out.http, &out.error,
                                &out.attempts};
    for (int k = 9; k < kKeyCount; ++k) {
        if (!end && seen[k]) return *why = std::string(kKeys[k]) + " goes with event=end only", false;
        if (end && !Number(values[k], numbers[k - 9]))
            return *why = std::string(kKeys[k]) + " must be a number below 2^32", false;
    }
    *r = out;
    return true;
}
