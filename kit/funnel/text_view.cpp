// The funnel as a table for a terminal: a column per count, then the share whose installer started.
#include "funnel/views.h"

#include <cinttypes>
#include <cstdio>

std::string FunnelText(const Funnel& funnel) {
    char line[512];
    std::snprintf(line, sizeof line, "%-12s %8s %8s %9s %9s %9s %9s %9s %9s %8s %8s\n", funnel.by.c_str(), "served",
                  "chosen", "cancelled", "installer", "message-3", "message-4", "message-5", "message-7", "no-end",
                  "started");
    std::string out = line;
    for (const FunnelRow& r : funnel.groups) {
        char share[16] = "-";
        if (r.served > 0) std::snprintf(share, sizeof share, "%.1f%%", 100.0 * double(r.installerStarted) / double(r.served));
        // A key longer than its column pushes the line on; the buffer is sized for the longest.
        std::snprintf(line, sizeof line,
                      "%-12s %8" PRIu64 " %8" PRIu64 " %9" PRIu64 " %9" PRIu64 " %9" PRIu64 " %9" PRIu64 " %9" PRIu64
                      " %9" PRIu64 " %8" PRIu64 " %8s\n",
                      r.key.empty() ? "(none)" : r.key.c_str(), r.served, r.chosen, r.cancelled, r.installerStarted,
                      r.message3, r.message4, r.message5, r.message7, r.noEnd, share);
        out += line;
    }
    return out;
}
