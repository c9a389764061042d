// What the store keeps and gives back: a loader's report as recorded, and the funnel's rows.
// Readers of web input fill a Report; the store and the funnel's views take these types only.
#pragma once
#include <cstdint>
#include <string>

// One report as the store keeps it. Text fields hold only the characters the reading allowed.
struct Report {
    std::string event;    // chosen, cancelled or end
    std::string outcome;  // with end only: installer-started, message-3, -4, -5 or -7
    std::string id;       // the copy's download id (hex), or empty for a copy without one
    std::string tag;      // the copy's tag, or empty
    std::string lang;     // the chosen language's three-letter code
    std::string os;       // Windows major.minor.build
    std::string build;    // paced or resilient
    int wow64 = 0;
    // On end: the installer's bytes received and declared, the times in ms, the failing
    // request's HTTP status and error code, the requests made.
    std::uint32_t bytes = 0, total = 0, discoverMs = 0, downloadMs = 0, http = 0, error = 0, attempts = 0;
};

// One group of the funnel: what its copies did.
struct FunnelRow {
    std::string key;
    std::uint64_t served = 0, chosen = 0, cancelled = 0, installerStarted = 0, message3 = 0, message4 = 0,
                  message5 = 0, message7 = 0, noEnd = 0;
};

struct DayRow {
    std::string day;
    std::uint64_t served = 0, installerStarted = 0;
};
