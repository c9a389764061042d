// The funnel as one JSON object, for scripts.
#include "funnel/views.h"

#include <cinttypes>
#include <cstdio>

namespace {
// A key as JSON text: keys hold only what the store's reading allowed, but quote anyway.
std::string Json(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        if (static_cast<unsigned char>(c) < 0x20) continue;
        out += c;
    }
    return out + "\"";
}
}  // namespace

std::string FunnelJson(const Funnel& funnel) {
    std::string out = "{\"groups\": [";
    for (std::size_t i = 0; i < funnel.groups.size(); ++i) {
        const FunnelRow& r = funnel.groups[i];
        char counts[512];
        std::snprintf(counts, sizeof counts,
                      ", \"served\": %" PRIu64 ", \"chosen\": %" PRIu64 ", \"cancelled\": %" PRIu64
                      ", \"installer_started\": %" PRIu64 ", \"message_3\": %" PRIu64 ", \"message_4\": %" PRIu64
                      ", \"message_5\": %" PRIu64 ", \"message_7\": %" PRIu64 ", \"no_end\": %" PRIu64 "}",
                      r.served, r.chosen, r.cancelled, r.installerStarted, r.message3, r.message4, r.message5,
                      r.message7, r.noEnd);
        out += (i ? ", {\"key\": " : "{\"key\": ") + Json(r.key) + counts;
    }
    return out + "]}\n";
}
