// Portable notice-text logic.
#include "ui/notice_format.h"

#include <cstring>

std::int32_t ParseSizeLine(const char* line) {
    const char* p = line;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    std::uint32_t value = 0;
    while (*p >= '0' && *p <= '9') {
        value = value * 10u + static_cast<std::uint32_t>(*p - '0');
        ++p;
    }
    if (negative) value = 0u - value;
    return static_cast<std::int32_t>(value);
}

namespace {
const char kNamePlaceholder[] = "[CASINO_NAME]";
const char kAddressPlaceholder[] = "[CASINO_ADDRESS]";

std::size_t Put(char* out, std::size_t w, std::size_t limit, const char* text, std::size_t n) {
    std::size_t take = limit - w < n ? limit - w : n;
    std::memcpy(out + w, text, take);
    return w + take;
}
}  // namespace

std::size_t ExpandNoticeText(const char* text, unsigned codePage, const NoticeName& name, const NoticeName& address,
                             NoticeDecoder decode, wchar_t* out, std::size_t cap) {
    if (cap == 0) return 0;
    const std::size_t limit = cap - 1;
    std::size_t w = 0;
    const char* run = text;  // the bytes since the last placeholder, not yet decoded
    const char* p = text;
    for (;;) {
        const NoticeName* inserted = nullptr;
        std::size_t skip = 0;
        if (std::strncmp(p, kNamePlaceholder, sizeof kNamePlaceholder - 1) == 0) {
            inserted = &name;
            skip = sizeof kNamePlaceholder - 1;
        } else if (std::strncmp(p, kAddressPlaceholder, sizeof kAddressPlaceholder - 1) == 0) {
            inserted = &address;
            skip = sizeof kAddressPlaceholder - 1;
        } else if (*p != 0) {
            ++p;
            continue;
        }
        // The run before the placeholder (or the end), then the name it stands for. Never more
        // bytes than characters of room, so that the decoder never needs more room than it has.
        NoticeName piece = {run, codePage};
        std::size_t n = static_cast<std::size_t>(p - run);
        for (;;) {
            std::size_t take = limit - w < n ? limit - w : n;
            if (take != 0) w += decode(piece.codePage, piece.text, take, out + w, take);
            if (inserted == nullptr) break;
            piece = *inserted;
            n = std::strlen(piece.text);
            inserted = nullptr;
        }
        if (skip == 0) break;
        p += skip;
        run = p;
    }
    out[w] = 0;
    return w;
}

void ComposeNoticeView(const char* start, const char* cursor, char* out, std::size_t cap) {
    if (cap == 0) return;
    const std::size_t limit = cap - 1;
    std::size_t w = Put(out, 0, limit, cursor, std::strlen(cursor));
    if (cursor != start) w = Put(out, w, limit, start, static_cast<std::size_t>(cursor - start));
    out[w] = 0;
}

const char* AdvanceNoticeCursor(const char* start, const char* cursor) {
    const char* lf = std::strchr(cursor, '\n');
    if (lf != nullptr) return lf + 1;
    lf = std::strchr(start, '\n');
    return lf != nullptr ? lf + 1 : start;
}
