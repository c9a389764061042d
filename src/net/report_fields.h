// A run's report to the operator's endpoint, as the query of one GET: only the fields the
// endpoint reads, each within its bounds. A stamp value that does not fit its field (a tag that
// is not 1 to 11 letters, digits or '-', an id that is not hex) is sent empty, never as it is.
#pragma once
#include <cstddef>
#include <cstdint>

// The alphabets of a stamp's tag (letters, digits and '-') and download id (hex digits): what the
// loader's report sends and what the endpoint takes, in one place.
bool TagCharacter(char c);
bool HexCharacter(char c);

struct ReportFields {
    const char* event;      // "chosen", "cancelled" or "end"
    const char* outcome;    // with "end": "installer-started", "message-3", ...; else null
    const char* stampTag;   // the stamp's tag as the loader stores it: TAG or TAG_ID
    const char* lang;       // the chosen language's code
    std::uint32_t os[3];    // Windows major, minor and build
    bool wow64;
    bool resilient;
    // With "end" only: the installer's bytes received and declared, and five numbers: the times
    // in ms of the discovery and the download, the failing request's HTTP status and error code
    // (or 0), and the installer's requests.
    std::uint32_t bytes, total;
    const std::uint32_t* end;
};

// url, then "?v=1&event=..." with the fields, into out (cap bytes, always terminated). False,
// with out empty, when it does not fit.
bool BuildReportUrl(const char* url, const ReportFields& f, char* out, std::size_t cap);
