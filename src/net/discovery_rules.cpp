// Portable discovery rules: iFlag / sUrl / sDlurl decide whether a chain goes on, ends, or ends
// the whole discovery. Every reply is unscrambled before it is read.
#include "net/discovery_rules.h"

#include "base/loader_state.h"
#include "base/text.h"
#include "net/reply_parser.h"
#include "net/scrambler.h"

#include <cstdint>
#include <cstring>

namespace {
void UnscrambleReply() {
    if (ReplyBuffer != nullptr) UnscrambleInPlace(ReplyBuffer);
}
}  // namespace

int RunDiscovery(const char* const* candidates, int candidateCount, PageFetcher fetch, void* context) {
    if (WorkBuffer == nullptr || ReplyBuffer == nullptr) return 0;
    std::int32_t flag = -1;
    for (int c = 0; c < candidateCount; ++c) {
        flag = -1;
        if (CopyText(WorkBuffer, kWorkBufferSize, candidates[c]) != std::strlen(candidates[c])) continue;
        for (int fetches = 0;; ++fetches) {
            if (fetches == kMaxFetchesPerChain) {
                flag = -1;
                break;
            }
            if (!fetch(WorkBuffer, context)) break;
            UnscrambleReply();
            if (!GetReplyInt("iFlag", &flag)) break;
            if (!GetReplyText("sUrl", WorkBuffer, kWorkBufferSize)) break;
            if (flag == 0 && GetReplyText("sDlurl", nullptr, 0)) break;
            flag = -1;
        }
        if (flag == 0) break;
    }
    if (flag != 0 || !GetReplyText("sDlurl", WorkBuffer, kWorkBufferSize)) return 0;
    return std::strlen(WorkBuffer) <= kMaxSiteUrlLength ? 1 : 0;
}
