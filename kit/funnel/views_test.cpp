// The funnel's three views over one fixed funnel: every count where it belongs, each key escaped
// for its view, and the charts' scales at their exact fit.
#include "funnel/views.h"

#include <gtest/gtest.h>

#include <string>

namespace {
Funnel Fixed() {
    Funnel f;
    f.by = "tag";
    FunnelRow none, odd, busy;
    none.chosen = 2, none.cancelled = 1, none.message7 = 1, none.noEnd = 1;
    odd.key = "<q\"&\\\x01>";
    odd.served = 3, odd.chosen = 3, odd.installerStarted = 1, odd.message3 = 1, odd.message4 = 1;
    busy.key = "Z9";
    busy.served = 8, busy.chosen = 4, busy.installerStarted = 4, busy.message5 = 2;
    f.groups = {none, odd, busy};
    f.days = {{"2024-10-04", 8, 4}};
    f.period = "From <x> & \"y\" to the last (UTC).";
    f.written = 20000 * 86400 + 13 * 3600 + 5 * 60 + 9;
    return f;
}
}  // namespace

TEST(FunnelViews, JsonHoldsEveryCountAndEscapesQuotesAndBackslashes) {
    EXPECT_EQ(FunnelJson(Fixed()),
              "{\"groups\": ["
              "{\"key\": \"\", \"served\": 0, \"chosen\": 2, \"cancelled\": 1, \"installer_started\": 0, \"message_3\": 0,"
              " \"message_4\": 0, \"message_5\": 0, \"message_7\": 1, \"no_end\": 1}, "
              "{\"key\": \"<q\\\"&\\\\>\", \"served\": 3, \"chosen\": 3, \"cancelled\": 0, \"installer_started\": 1,"
              " \"message_3\": 1, \"message_4\": 1, \"message_5\": 0, \"message_7\": 0, \"no_end\": 0}, "
              "{\"key\": \"Z9\", \"served\": 8, \"chosen\": 4, \"cancelled\": 0, \"installer_started\": 4,"
              " \"message_3\": 0, \"message_4\": 0, \"message_5\": 2, \"message_7\": 0, \"no_end\": 0}]}\n");
    EXPECT_EQ(FunnelJson(Funnel{}), "{\"groups\": []}\n");
}

TEST(FunnelViews, TextHasAColumnPerCountAndTheShareOnlyWhereCopiesWereServed) {
    Funnel f = Fixed();
    f.groups.erase(f.groups.begin() + 1);
    f.by = "lang";
    EXPECT_EQ(FunnelText(f),
              "lang           served   chosen cancelled installer message-3 message-4 message-5 message-7   no-end  started\n"
              "(none)              0        2         1         0         0         0         0         1        1        -\n"
              "Z9                  8        4         0         4         0         0         2         0        0    50.0%\n");
}

TEST(FunnelViews, ThePageEscapesEveryTextAndScalesToItsLargestCount) {
    std::string page = FunnelPage(Fixed());
    EXPECT_EQ(page.find("<q"), std::string::npos);
    EXPECT_EQ(page.find("<x>"), std::string::npos);
    EXPECT_NE(page.find("<p>From &lt;x&gt; &amp; &quot;y&quot; to the last (UTC).</p>\n"
                        "<p>Written 2024-10-04 13:05:09 UTC.</p>\n"),
              std::string::npos);
    EXPECT_NE(page.find("<tr><td>&lt;q&quot;&amp;\\\x01&gt;</td><td>3</td><td>3</td><td>0</td><td>1</td><td>1</td>"
                        "<td>1</td><td>0</td><td>0</td><td>0</td></tr>"),
              std::string::npos);
    EXPECT_NE(page.find("<tr><td>(no tag)</td><td>0</td><td>2</td><td>1</td><td>0</td><td>0</td><td>0</td><td>0</td>"
                        "<td>1</td><td>1</td></tr>"),
              std::string::npos);
    // The largest count (8 served) fills the bar's whole width, half of it half.
    EXPECT_NE(page.find("width=\"420.0\" height=\"16\" fill=\"#1f4e99\"/><text x=\"556.0\""), std::string::npos);
    EXPECT_NE(page.find("width=\"210.0\" height=\"16\" fill=\"#1d6b34\""), std::string::npos);
    // Failures summed over the groups, the worst (message 5: 2) at full width.
    EXPECT_NE(page.find("aria-label=\"Failures: cancelled 1, message 3 1, message 4 1, message 5 2, message 7 1, "
                        "no end 1\""),
              std::string::npos);
    EXPECT_NE(page.find("width=\"420.0\" height=\"16\" fill=\"#a3161a\"/><text x=\"556.0\" y=\"85\""), std::string::npos);
    // One day: its dot in the middle, at the top for the busiest count.
    EXPECT_NE(page.find("<circle cx=\"370.0\" cy=\"10.0\""), std::string::npos);
    EXPECT_NE(page.find("<tr><td>2024-10-04</td><td>8</td><td>4</td></tr>\n</table>\n</body></html>\n"),
              std::string::npos);
    for (const char* fetched : {"<script", "src=", "href=", "@import", "url("})  // it opens behind any firewall
        EXPECT_EQ(page.find(fetched), std::string::npos) << fetched;
}
