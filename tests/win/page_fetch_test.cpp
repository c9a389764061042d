// FetchPage against the scripted site.
#include "net/page_fetch.h"

#include "base/loader_state.h"
#include "win_test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {
class PageFetchTest : public testing::Test {
protected:
    void SetUp() override {
        ReplyBuffer = static_cast<char*>(std::malloc(kReplyBufferSize));
        std::memset(ReplyBuffer, 'Z', kReplyBufferSize);
    }
    void TearDown() override {
        std::free(ReplyBuffer);
        ReplyBuffer = nullptr;
    }
};

struct FetchCase {
    const char* path;
    int result;
    std::string text;  // what every reader of ReplyBuffer sees
};
}  // namespace

TEST_F(PageFetchTest, PagesArriveAsNulTerminatedTextWhateverTheStatus) {
    const FetchCase cases[] = {
        {"/empty", 1, ""},
        {"/hello", 1, "hello page"},
        {"/notfound-page", 1, "missing page body"},
        {"/error500", 1, "server error body"},
        {"/nul", 1, "abc"},
    };
    for (const FetchCase& c : cases) {
        std::memset(ReplyBuffer, 'Z', kReplyBufferSize);
        EXPECT_EQ(FetchPage(SiteUrl(c.path).c_str()), c.result) << c.path;
        EXPECT_EQ(std::string(ReplyBuffer), c.text) << c.path;
    }
    std::memset(ReplyBuffer, 'Z', kReplyBufferSize);
    ASSERT_EQ(FetchPage(SiteUrl("/nul").c_str()), 1);
    EXPECT_EQ(std::memcmp(ReplyBuffer, "abc\0def\0", 8), 0) << "the bytes after the NUL are there, unread";
}

TEST_F(PageFetchTest, LongPagesAreCutAtOneReadAndTheTerminatorStaysInside) {
    ASSERT_EQ(FetchPage(SiteUrl("/big").c_str()), 1);
    std::size_t length = std::strlen(ReplyBuffer);
    EXPECT_GT(length, 0u);
    EXPECT_LE(length, kReplyReadSize);
    EXPECT_EQ(std::string(ReplyBuffer, length < 64 ? length : 64), PatternBytes(30000).substr(0, length < 64 ? length : 64)
                                                                        .c_str());

    std::memset(ReplyBuffer, 'Z', kReplyBufferSize);
    ASSERT_EQ(FetchPage(SiteUrl("/exact").c_str()), 1);
    std::size_t exact = std::strlen(ReplyBuffer);
    EXPECT_LE(exact, kReplyReadSize);
    EXPECT_EQ(ReplyBuffer[exact], 0);
}

TEST_F(PageFetchTest, UnreachableUrlLeavesTheBufferAsItWas) {
    std::strcpy(ReplyBuffer, "previous page");
    EXPECT_EQ(FetchPage("http://127.0.0.1:9/nothing"), 0);
    EXPECT_STREQ(ReplyBuffer, "previous page");
    EXPECT_EQ(FetchPage("http://127.0.0.1:9/nothing"), 0) << "a second try fails alike";
    EXPECT_STREQ(ReplyBuffer, "previous page");
}

TEST_F(PageFetchTest, RequestsCarryTheLoadersAgentAndBypassTheCache) {
    ASSERT_EQ(FetchPage(SiteUrl("/hello").c_str()), 1);
    ASSERT_EQ(FetchPage(SiteUrl("/hello").c_str()), 1);
    ASSERT_EQ(FetchPage(SiteUrl("/_log").c_str()), 1);
    std::string log(ReplyBuffer);
    std::size_t hits = 0;
    for (std::size_t at = log.find("\"path\": \"/hello\""); at != std::string::npos;
         at = log.find("\"path\": \"/hello\"", at + 1))
        ++hits;
    EXPECT_GE(hits, 2u) << "the second fetch must reach the server, not the cache";
    EXPECT_NE(log.find("\"agent\": \"Quillmoor\""), std::string::npos) << log.substr(0, 300);
}
