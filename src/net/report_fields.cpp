// The report's query. Every value comes from a small alphabet (letters, digits, '-', '.'), so
// none needs an escape; a stamp value outside its alphabet is left out rather than escaped.
#include "net/report_fields.h"

#include <cstdio>

// On Windows msvcrt's own formatter: the program already loads msvcrt, and MinGW's would add
// kilobytes. It returns a negative count, and writes no terminator, when the text does not fit.
#ifdef _WIN32
#define FORMAT_INTO _snprintf
#else
#define FORMAT_INTO std::snprintf
#endif

bool HexCharacter(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

bool TagCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

namespace {
// The length of s up to stop (or its end) when every character is allowed and there are at
// most `most`; otherwise 0, so that the field is sent empty.
int Fitting(const char* s, char stop, int most, bool (*allowed)(char)) {
    int n = 0;
    for (; s[n] != 0 && s[n] != stop; ++n) {
        if (!allowed(s[n]) || n == most) return 0;
    }
    return n;
}

// True when the formatter wrote `written` characters and the terminator within cap.
bool Fits(int written, std::size_t cap) { return written >= 0 && static_cast<std::size_t>(written) < cap; }
}  // namespace

bool BuildReportUrl(const char* url, const ReportFields& f, char* out, std::size_t cap) {
    if (cap == 0) return false;
    // The stamp's TAG_ID: the tag up to the first '_', the id after it.
    const char* tag = f.stampTag != nullptr ? f.stampTag : "";
    int tagLength = 0;
    while (tag[tagLength] != 0 && tag[tagLength] != '_') ++tagLength;
    const char* id = tag[tagLength] == '_' ? tag + tagLength + 1 : "";
    const char* lang = f.lang != nullptr ? f.lang : "";
    int n = FORMAT_INTO(out, cap, "%s?v=1&event=%s%s%s&id=%.*s&tag=%.*s&lang=%.*s&os=%u.%u.%u&wow64=%d&build=%s", url,
                        f.event, f.outcome != nullptr ? "&outcome=" : "", f.outcome != nullptr ? f.outcome : "",
                        Fitting(id, 0, 20, HexCharacter), id, Fitting(tag, '_', 11, TagCharacter), tag,
                        Fitting(lang, 0, 3, TagCharacter),
                        lang, f.os[0], f.os[1], f.os[2], f.wow64 ? 1 : 0, f.resilient ? "resilient" : "paced");
    bool ok = Fits(n, cap);
    if (ok && f.outcome != nullptr) {
        std::size_t at = static_cast<std::size_t>(n);
        ok = Fits(FORMAT_INTO(out + at, cap - at,
                              "&bytes=%u&total=%u&discover_ms=%u&download_ms=%u&http=%u&error=%u&attempts=%u",
                              f.bytes, f.total, f.end[0], f.end[1], f.end[2], f.end[3], f.end[4]),
                  cap - at);
    }
    if (!ok) out[0] = 0;
    return ok;
}
