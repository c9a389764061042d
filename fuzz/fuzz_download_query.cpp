// The download endpoint's query: whatever arrives, the answer is a tag of 1 to 11 tag characters
// or a reason, never both and never neither.
#include "download_query.h"

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
    return 0;
}
