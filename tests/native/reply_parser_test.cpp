// The configuration reply readers, in place on ReplyBuffer; and the range answers of a resumed
// download, which come from a server too.
#include "net/reply_parser.h"

#include "base/loader_state.h"
#include "net/range_request.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {
class ReplyParser : public testing::Test {
protected:
    void SetUp() override { ReplyBuffer = buffer_; }
    void TearDown() override { ReplyBuffer = nullptr; }
    void Reply(const std::string& text) {
        ASSERT_LT(text.size(), sizeof buffer_);
        std::memset(buffer_, 0, sizeof buffer_);
        std::memcpy(buffer_, text.data(), text.size());
    }
    char buffer_[kReplyBufferSize];
};
}  // namespace

TEST_F(ReplyParser, FieldsAreFoundOnlyAtFieldStartsWithAnEqualsSign) {
    struct Case {
        const char* text;
        const char* key;
        const char* value;  // nullptr: not found
    } cases[] = {
        {"xiFlag=1", "iFlag", nullptr},
        {"iFlagX=1", "iFlag", nullptr},
        {"sUrl=A|Url=B", "Url", "B"},
        {"sUrl=a=b|iFlag=1", "sUrl", "a=b"},
        {"iFlag=1|iFlag=2", "iFlag", "1"},
        {"a=1|b=2|", "b", "2"},
        // A key whose first letters repeat is taken where the search resumes inside a longer
        // key: the search position moves one character past each rejected occurrence.
        {"xaaa=1", "aa", "1"},
        {"aaa=1", "aa", "1"},
        {"k-y=1", "k-y", nullptr},
        {"", "iFlag", nullptr},
        {"iFlag", "iFlag", nullptr},
        {"|iFlag=", "iFlag", ""},
    };
    for (const Case& c : cases) {
        const char* v = FindReplyField(c.text, c.key);
        if (c.value == nullptr) {
            EXPECT_EQ(v, nullptr) << c.text << " / " << c.key;
        } else {
            ASSERT_NE(v, nullptr) << c.text << " / " << c.key;
            EXPECT_EQ(std::string(v, std::strcspn(v, "|")), c.value) << c.text;
        }
    }
}

TEST_F(ReplyParser, IntegersAreDigitsAndMinusUpToTheFieldEnd) {
    struct Case {
        const char* text;
        int result;
        std::int32_t value;
    } cases[] = {
        {"iFlag=0", 1, 0},        {"iFlag=-12|x=1", 1, -12}, {"iFlag=|sUrl=A", 1, 0},
        {"iFlag=-", 1, 0},        {"iFlag=1-2", 1, 1},        {"iFlag=--3", 1, 0},
        {"iFlag= 0", 0, 99},      {"iFlag=+1", 0, 99},        {"iFlag=1x", 0, 99},
        {"sUrl=a", 0, 99},        {"iFlag=2147483647", 1, 2147483647},
        {"iFlag=-2147483648", 1, INT32_MIN}, {"iFlag=4294967297", 1, 1},
        {"iFlag=99999999999999999999999", 1, -159383553},  // wraps modulo 2^32, no overflow
    };
    for (const Case& c : cases) {
        Reply(c.text);
        std::int32_t out = 99;
        EXPECT_EQ(GetReplyInt("iFlag", &out), c.result) << c.text;
        EXPECT_EQ(out, c.value) << c.text;
        EXPECT_EQ(GetReplyInt("iFlag", nullptr), c.result) << c.text;
    }
}

TEST_F(ReplyParser, TextValuesExpandLineFeedsAndRefuseWhatDoesNotFit) {
    Reply("sUrl=a\nb\r\nc|iFlag=0");
    char dest[32];
    std::memset(dest, 'Z', sizeof dest);
    ASSERT_EQ(GetReplyText("sUrl", dest, sizeof dest), 1);
    EXPECT_STREQ(dest, "a\r\nb\r\r\nc");
    EXPECT_EQ(GetReplyText("sDlurl", nullptr, 0), 0);
    EXPECT_EQ(GetReplyText("iFlag", nullptr, 0), 1);

    // "a\nb\r\nc" is 6 bytes with 2 LFs: the copy needs 6 + 2 + 1 = 9 bytes.
    std::memset(dest, 'Z', sizeof dest);
    EXPECT_EQ(GetReplyText("sUrl", dest, 8), 0) << "refused like a missing field";
    EXPECT_EQ(dest[0], 'Z') << "the destination is not written on refusal";
    EXPECT_EQ(GetReplyText("sUrl", dest, 9), 1);
    EXPECT_STREQ(dest, "a\r\nb\r\r\nc");
}

TEST_F(ReplyParser, ReadsLeaveTheReplyByteForByteUnchanged) {
    const std::string text = "iFlag=0|sUrl=http://n.example/\n|sDlurl=http://dl.example/|junk=1|x";
    Reply(text);
    char snapshot[kReplyBufferSize];
    std::memcpy(snapshot, buffer_, sizeof snapshot);
    char dest[64];
    std::int32_t flag = -1;
    for (int round = 0; round < 3; ++round) {
        GetReplyInt("iFlag", &flag);
        GetReplyText("sUrl", dest, sizeof dest);
        GetReplyText("sDlurl", dest, sizeof dest);
        GetReplyInt("junk", nullptr);
        GetReplyText("x", dest, sizeof dest);
    }
    EXPECT_EQ(std::memcmp(snapshot, buffer_, sizeof snapshot), 0);
}

TEST_F(ReplyParser, MissingReplyBufferReadsAsMissingFields) {
    ReplyBuffer = nullptr;
    std::int32_t out = 5;
    char dest[8] = "keep";
    EXPECT_EQ(GetReplyInt("iFlag", &out), 0);
    EXPECT_EQ(out, 5);
    EXPECT_EQ(GetReplyText("sUrl", dest, sizeof dest), 0);
    EXPECT_STREQ(dest, "keep");
}

TEST(RangeAnswers, ContentRangeIsTakenOnlyWhole) {
    struct Case {
        const char* text;
        bool ok;
        std::uint32_t first, total;
    } cases[] = {
        {"bytes 100-999/1000", true, 100, 1000},     {"bytes 0-0/1", true, 0, 1},
        {"bytes  7 - 9 / 10", true, 7, 10},          {"bytes 4294967294-4294967294/4294967295", true, 4294967294u, 4294967295u},
        {"bytes 100-999/*", false, 0, 0},            {"bytes */1000", false, 0, 0},
        {"bytes 100-99/1000", false, 0, 0},          {"bytes 100-1000/1000", false, 0, 0},
        {"bytes 1-2/4294967296", false, 0, 0},       {"bytes 1-2/3x", false, 0, 0},
        {"items 1-2/3", false, 0, 0},                {"bytes=1-2/3", false, 0, 0},
        {"bytes -2/3", false, 0, 0},                 {"", false, 0, 0},
    };
    for (const Case& c : cases) {
        std::uint32_t first = 77, total = 77;
        EXPECT_EQ(ParseContentRange(c.text, &first, &total), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(first, c.first) << c.text;
            EXPECT_EQ(total, c.total) << c.text;
        }
    }
}

TEST(RangeAnswers, RangeHeadersFitWholeOrNotAtAll) {
    char out[64];
    ASSERT_TRUE(BuildRangeHeaders(1048576, "\"v2\"", out, sizeof out));
    EXPECT_STREQ(out, "Range: bytes=1048576-\r\nIf-Range: \"v2\"\r\n");
    EXPECT_FALSE(BuildRangeHeaders(5, "\"a\"\r\nX-Evil: 1", out, sizeof out)) << "a validator cannot add a header";
    EXPECT_STREQ(out, "");
    EXPECT_FALSE(BuildRangeHeaders(5, "W/\"v2\"", out, sizeof out)) << "a weak ETag cannot vouch for a range";
    ASSERT_TRUE(BuildRangeHeaders(5, "Wed, 09 Dec 2026 10:00:00 GMT", out, sizeof out)) << "a date can";
    std::string longest(64, 'v');
    EXPECT_FALSE(BuildRangeHeaders(5, longest.c_str(), out, sizeof out));
    EXPECT_STREQ(out, "");
}

TEST(RangeAnswers, CutAttemptsEndWithinTheirBound) {
    // Each line: the bytes in the file after one more cut attempt, and what follows.
    constexpr std::uint32_t kTotal = 70000;
    struct Step {
        std::uint32_t have;
        AfterCut next;
        std::uint32_t pauseMs;
    };
    struct Case {
        const char* what;
        bool hasTotal;
        std::vector<Step> steps;
    } cases[] = {
        {"a server without ranges that cuts at 50 % every time: bytes written again are no progress",
         true,
         {{35000, AfterCut::kRetry, 1000}, {35000, AfterCut::kRetry, 1000}, {35000, AfterCut::kRetry, 2000},
          {35000, AfterCut::kRetry, 4000}, {35000, AfterCut::kRetry, 8000}, {35000, AfterCut::kGiveUp, 0}}},
        {"a restart that goes one byte further counts, and so resets the pauses",
         true,
         {{35000, AfterCut::kRetry, 1000}, {20000, AfterCut::kRetry, 1000}, {35001, AfterCut::kRetry, 1000}}},
        {"every declared byte in, only the end missed: finished, not a range from the end",
         true, {{30000, AfterCut::kRetry, 1000}, {kTotal, AfterCut::kFinish, 0}}},
        {"no declared length: never taken for finished", false, {{kTotal, AfterCut::kRetry, 1000}}},
    };
    for (const Case& c : cases) {
        RetryState s = {};
        for (const Step& step : c.steps) {
            std::uint32_t pause = 0;
            ASSERT_EQ(NextAfterCut(s, step.have, c.hasTotal, kTotal, &pause), step.next) << c.what << " at " << step.have;
            if (step.next == AfterCut::kRetry) {
                EXPECT_EQ(pause, step.pauseMs) << c.what;
            }
        }
    }
    // A server that resumes but brings one byte per attempt still ends.
    RetryState s = {};
    std::uint32_t pause = 0;
    int attempts = 0;
    for (std::uint32_t have = 1; NextAfterCut(s, have, true, kTotal, &pause) == AfterCut::kRetry; ++have) ++attempts;
    EXPECT_EQ(attempts + 1, kMostAttempts);
}
