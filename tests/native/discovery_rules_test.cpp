// Discovery's redirect rules over a scripted fetcher.
#include "net/discovery_rules.h"

#include "base/loader_state.h"
#include "net/scrambler.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {
// URL -> plain reply; an absent URL fails to fetch. Replies are served scrambled, as the
// configuration server sends them.
struct ScriptedServer {
    std::map<std::string, std::string> replies;
    std::vector<std::string> asked;
};

int ScriptedFetch(const char* url, void* context) {
    auto* server = static_cast<ScriptedServer*>(context);
    server->asked.push_back(url);
    auto it = server->replies.find(url);
    if (it == server->replies.end()) return 0;
    std::string coded = it->second.substr(0, kReplyReadSize);
    ScrambleBytes(&coded[0], coded.size());
    std::memcpy(ReplyBuffer, coded.data(), coded.size());
    ReplyBuffer[coded.size()] = 0;
    return 1;
}

class DiscoveryRules : public testing::Test {
protected:
    void SetUp() override {
        WorkBuffer = work_;
        ReplyBuffer = reply_;
    }
    void TearDown() override {
        WorkBuffer = nullptr;
        ReplyBuffer = nullptr;
    }
    int Run(std::vector<const char*> candidates) {
        return RunDiscovery(candidates.data(), static_cast<int>(candidates.size()), ScriptedFetch, &server);
    }
    ScriptedServer server;
    char work_[kWorkBufferSize];
    char reply_[kReplyBufferSize];
};
}  // namespace

TEST_F(DiscoveryRules, EachReplyShapeHasItsEffect) {
    struct Case {
        const char* name;
        const char* firstReply;  // reply of candidate A; "next" answers with a final site
        int result;
        const char* site;
        std::vector<std::string> asked;
    };
    const Case cases[] = {
        {"no iFlag: next candidate", "sDlurl=http://dl.x/", 1, "http://b.example/site/", {"A", "B"}},
        {"malformed iFlag: next candidate", "iFlag=1x|sUrl=next", 1, "http://b.example/site/", {"A", "B"}},
        {"non-zero with sUrl: follow", "iFlag=3|sUrl=next", 1, "http://next.example/site/", {"A", "next"}},
        {"non-zero without sUrl: next candidate", "iFlag=1|sDlurl=http://x/", 1, "http://b.example/site/", {"A", "B"}},
        {"zero with both: done", "iFlag=0|sUrl=next|sDlurl=http://a.example/", 1, "http://a.example/", {"A"}},
        {"zero with sUrl only: follow", "iFlag=0|sUrl=next", 1, "http://next.example/site/", {"A", "next"}},
        {"zero with sDlurl only: done", "iFlag=0|sDlurl=http://a.example/\n", 1, "http://a.example/\r\n", {"A"}},
        {"zero with neither: failure, B never asked", "iFlag=0|other=1", 0, nullptr, {"A"}},
    };
    for (const Case& c : cases) {
        server = ScriptedServer{};
        server.replies["A"] = c.firstReply;
        server.replies["B"] = "iFlag=0|sDlurl=http://b.example/site/";
        server.replies["next"] = "iFlag=0|sDlurl=http://next.example/site/";
        EXPECT_EQ(Run({"A", "B"}), c.result) << c.name;
        if (c.site != nullptr) {
            EXPECT_STREQ(WorkBuffer, c.site) << c.name;
        }
        EXPECT_EQ(server.asked, c.asked) << c.name;
    }
}

TEST_F(DiscoveryRules, CandidatesAreTriedInOrderAndAFailedFetchEndsOnlyItsChain) {
    server.replies["B"] = "iFlag=0|sDlurl=http://b/";
    EXPECT_EQ(Run({"A", "B"}), 1) << "first unreachable, second answers";
    EXPECT_STREQ(WorkBuffer, "http://b/");

    server = ScriptedServer{};
    server.replies["A"] = "iFlag=0|sDlurl=http://a/";
    server.replies["B"] = "iFlag=0|sDlurl=http://b/";
    EXPECT_EQ(Run({"A", "B"}), 1);
    EXPECT_EQ(server.asked, std::vector<std::string>{"A"}) << "the second is never asked";

    server = ScriptedServer{};
    EXPECT_EQ(Run({"override"}), 0) << "an unreachable override fails after one fetch";
    EXPECT_EQ(server.asked.size(), 1u);
}

TEST_F(DiscoveryRules, ChainsFollowRedirectsUpToTheirBound) {
    server.replies["A"] = "iFlag=1|sUrl=r1";
    server.replies["r1"] = "iFlag=2|sUrl=r2";
    server.replies["r2"] = "iFlag=-1|sUrl=r3";
    server.replies["r3"] = "iFlag=0|sDlurl=http://final/";
    EXPECT_EQ(Run({"A"}), 1);
    EXPECT_EQ(server.asked.size(), 4u);
    EXPECT_STREQ(WorkBuffer, "http://final/");

    server = ScriptedServer{};
    server.replies["loop"] = "iFlag=1|sUrl=loop";
    server.replies["B"] = "iFlag=0|sDlurl=http://b/";
    EXPECT_EQ(Run({"loop", "B"}), 1) << "a redirect loop ends like a failed fetch";
    EXPECT_EQ(server.asked.size(), static_cast<std::size_t>(kMaxFetchesPerChain) + 1);
    EXPECT_STREQ(WorkBuffer, "http://b/");
}

TEST_F(DiscoveryRules, SiteUrlsWithoutRoomForTheFileNamesAreRefused) {
    std::string longest(kMaxSiteUrlLength, 's');
    server.replies["A"] = "iFlag=0|sDlurl=" + longest;
    EXPECT_EQ(Run({"A"}), 1);
    EXPECT_EQ(std::strlen(WorkBuffer), kMaxSiteUrlLength);

    server.replies["A"] = "iFlag=0|sDlurl=" + longest + "s";
    EXPECT_EQ(Run({"A"}), 0);

    // A value that would need more than WorkBuffer once its line feeds are expanded.
    server.replies["A"] = "iFlag=0|sDlurl=" + std::string(kReplyReadSize - 20, '\n');
    EXPECT_EQ(Run({"A"}), 0);
}

TEST_F(DiscoveryRules, NoBuffersNoFetch) {
    WorkBuffer = nullptr;
    EXPECT_EQ(Run({"A"}), 0);
    EXPECT_TRUE(server.asked.empty());
}
