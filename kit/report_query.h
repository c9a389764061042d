// The endpoint's reading of a loader's report, a query string that anyone on the web can send:
// known keys only, each once, each value within its own length and characters.
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

// Fills *report from query and returns true; or returns false with *why saying what is wrong.
// Nothing is percent-decoded: no value needs an escape, so one is refused as it stands.
bool ReadReport(const std::string& query, Report* report, std::string* why);
