// Configuration replies: the field readers and the discovery rules over replies from the input.
// The input is split at 0xFF bytes into the replies of successive fetches; each reply is
// served as it stands (already "unscrambled" text is fine: any bytes are a valid reply).
#include "base/loader_state.h"
#include "net/discovery_rules.h"
#include "net/range_request.h"
#include "net/reply_parser.h"
#include "net/scrambler.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {
struct Replies {
    std::vector<std::string> pages;
    std::size_t next = 0;
};

int Fetch(const char*, void* context) {
    auto* r = static_cast<Replies*>(context);
    if (r->next >= r->pages.size()) return 0;
    const std::string& page = r->pages[r->next++];
    std::size_t n = page.size() < kReplyReadSize ? page.size() : kReplyReadSize;
    std::memcpy(ReplyBuffer, page.data(), n);
    ReplyBuffer[n] = 0;
    return 1;
}

char work[kWorkBufferSize];
char reply[kReplyBufferSize];
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    std::string plain = text.substr(0, text.find('\0'));
    const char* keys[] = {"iFlag", "sUrl", "sDlurl", "a", "aa", "x-y", ""};
    char dest[64];
    for (const char* key : keys) {
        std::int32_t value = 0;
        FindReplyField(plain.c_str(), key);
        ReadReplyInt(plain.c_str(), key, &value);
        ReadReplyText(plain.c_str(), key, dest, sizeof dest);
        ReadReplyText(plain.c_str(), key, nullptr, 0);
    }
    std::uint32_t first = 0, total = 0;
    if (ParseContentRange(plain.c_str(), &first, &total) && first >= total) __builtin_trap();
    char headers[96];
    if (BuildRangeHeaders(first, plain.c_str(), headers, sizeof headers) && std::strlen(headers) >= sizeof headers)
        __builtin_trap();
    std::string copy = plain;
    ReadReplyText(plain.c_str(), "sUrl", dest, sizeof dest);
    if (copy != plain) __builtin_trap();

    Replies replies;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= size; ++i) {
        if (i == size || data[i] == 0xFF) {
            std::string page(reinterpret_cast<const char*>(data) + start, i - start);
            ScrambleBytes(&page[0], page.size());
            replies.pages.push_back(page);
            start = i + 1;
        }
    }
    WorkBuffer = work;
    ReplyBuffer = reply;
    const char* candidates[] = {"first", "second"};
    if (RunDiscovery(candidates, 2, Fetch, &replies) == 1 && std::strlen(WorkBuffer) > kMaxSiteUrlLength)
        __builtin_trap();
    WorkBuffer = nullptr;
    ReplyBuffer = nullptr;
    return 0;
}
