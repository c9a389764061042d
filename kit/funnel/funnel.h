// The funnel as one value: what the store says of a period, which each view (text, JSON, page)
// writes in its own form and none reads again.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "store/records.h"

class Store;

struct Funnel {
    std::string by;                // the grouping: tag, lang, os or build
    std::vector<FunnelRow> groups;  // sorted by key
    std::vector<DayRow> days;       // oldest first; read for the page only
    std::string period;             // the page's heading: which period this is
    std::int64_t written = 0;       // when the page is written (seconds since 1970), which it shows
};

// Reads the funnel grouped by `by` of the records at or after since and before until; the days
// too when withDays. False with *why when the store cannot be read.
bool ReadFunnel(Store& store, const std::string& by, std::int64_t since, std::int64_t until, bool withDays,
                Funnel* funnel, std::string* why);
