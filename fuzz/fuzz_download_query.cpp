// The endpoint's queries: whatever arrives, a download's answer is a tag of 1 to 11 tag
// characters or a reason, never both and never neither; a report is read whole, with every
// field within its bounds, or refused with a reason.
#include "endpoint/download_query.h"
#include "endpoint/report_query.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string why;
    std::string tag = TagFromQuery(std::string(reinterpret_cast<const char*>(data), size), &why);
    if (tag.empty() == why.empty() || tag.size() > kMostTagBytes) std::abort();
    for (char c : tag) {
        if (!TagCharacter(c)) std::abort();
    }
    Report r;
    std::string refused;
    bool read = ReadReport(std::string(reinterpret_cast<const char*>(data), size), &r, &refused);
    if (read == !refused.empty()) std::abort();
    if (read && (r.id.size() > 20 || r.tag.size() > kMostTagBytes || r.lang.size() != 3 || r.os.empty() ||
                 r.os.size() > 24 || (r.event == "end") == r.outcome.empty()))
        std::abort();
    return 0;
}
