// The notice text's size line, placeholders and rotation.
#include "base/text.h"
#include "ui/notice_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

TEST(NoticeFormat, SizeLineReadsLikeThirtyTwoBitArithmetic) {
    struct Case {
        const char* line;
        std::int32_t value;
    } cases[] = {
        {"12345\r", 12345}, {" +7", 7},   {"-5", -5},           {"abc", 0},
        {"", 0},            {"\t\v\f 42x", 42}, {"+-3", 0},     {"2147483647", 2147483647},
        {"2147483648", -2147483647 - 1}, {"4294967296", 0}, {"4294967297", 1},
        {"99999999999999999999", static_cast<std::int32_t>(0x630FFFFF)},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseSizeLine(c.line), c.value) << c.line;
}

namespace {
// Code page 1 widens each byte as it is; code page 2 shifts it up by 0x100, so the code page
// each character was decoded with can be read back; code page 3 takes bytes in pairs, as
// double-byte code pages do; code page 4 cannot be decoded at all.
std::size_t TestDecode(unsigned codePage, const char* text, std::size_t n, wchar_t* out, std::size_t cap) {
    EXPECT_LE(n, cap) << "more bytes than room";
    if (codePage == 4) return 0;
    std::size_t w = 0;
    for (std::size_t i = 0; i < n && w < cap; i += codePage == 3 ? 2 : 1)
        out[w++] = static_cast<wchar_t>(static_cast<unsigned char>(text[i]) + (codePage == 2 ? 0x100 : 0));
    return w;
}

std::wstring ExpandWide(const std::string& text, NoticeName name, NoticeName address, std::size_t cap,
                        unsigned codePage = 1) {
    std::vector<wchar_t> out(cap + 8, L'G');
    std::size_t n = ExpandNoticeText(text.c_str(), codePage, name, address, TestDecode, out.data(), cap);
    EXPECT_EQ(out[n], 0);
    for (std::size_t i = cap; i < cap + 8; ++i) EXPECT_EQ(out[i], L'G') << "written past the buffer at " << i;
    return std::wstring(out.data(), n);
}

// The expansion with every text decoded byte for byte, read back as bytes.
std::string Expand(const std::string& text, const char* name = "Nord", const char* address = "nord.example",
                   std::size_t cap = 22000) {
    std::wstring wide = ExpandWide(text, {name, 1}, {address, 1}, cap);
    return std::string(wide.begin(), wide.end());
}
}  // namespace

TEST(NoticeFormat, PlaceholdersExpandOnceAndExactly) {
    EXPECT_EQ(Expand("Welcome to [CASINO_NAME] at [CASINO_ADDRESS]!"), "Welcome to Nord at nord.example!");
    EXPECT_EQ(Expand("[CASINO_NAME][CASINO_NAME]"), "NordNord");
    EXPECT_EQ(Expand("[casino_name] [CASINO_NAME"), "[casino_name] [CASINO_NAME");
    EXPECT_EQ(Expand("x [CASINO_ADDRESS] [OTHER]"), "x nord.example [OTHER]");
    EXPECT_EQ(Expand("[CASINO_NAME]", "Evil [CASINO_ADDRESS]"), "Evil [CASINO_ADDRESS]") << "replacements are not rescanned";
    EXPECT_EQ(Expand(""), "");
}

TEST(NoticeFormat, ExpansionIsCutAtTheBuffersEnd) {
    std::string name(79, 'N');
    std::string text;
    for (int i = 0; i < 2000; ++i) text += "[CASINO_NAME]";  // 26000 bytes in, 158000 out
    std::string out = Expand(text, name.c_str(), "a", 22000);
    EXPECT_EQ(out.size(), 21999u);
    EXPECT_EQ(out.find_first_not_of('N'), std::string::npos);
    EXPECT_EQ(Expand("abcdef", "n", "a", 4), "abc");
    EXPECT_EQ(Expand("ab[CASINO_NAME]", "xyz", "a", 5), "abxy") << "a replacement is cut too";
}

TEST(NoticeFormat, TextAndEachNameAreDecodedWithTheirOwnCodePage) {
    EXPECT_EQ(ExpandWide("a[CASINO_NAME]b[CASINO_ADDRESS]", {"n", 1}, {"d", 2}, 64, 2), L"\u0161n\u0162\u0164");
    EXPECT_EQ(ExpandWide("\x88\x9f[CASINO_NAME]\x82\xa0", {"Caf\xe9", 1}, {"", 1}, 64, 3), L"\x88" L"Caf\xe9\x82")
        << "a pair is one character";
    EXPECT_EQ(ExpandWide("abc[CASINO_NAME]def", {"n", 4}, {"", 1}, 64), L"abcdef") << "an undecodable name is left out";
    EXPECT_EQ(ExpandWide("\x88\x9f\x88\x9f\x88\x9f", {"", 1}, {"", 1}, 3, 3), L"\x88") << "two bytes of room";
}

namespace {
// The views shown tick by tick, starting from a fresh cursor.
std::vector<std::string> Views(const std::string& text, int ticks) {
    std::vector<std::string> views;
    const char* start = text.c_str();
    const char* cursor = start;
    std::vector<char> view(22000);
    for (int t = 0; t < ticks; ++t) {
        ComposeNoticeView(start, cursor, view.data(), view.size());
        views.push_back(view.data());
        cursor = AdvanceNoticeCursor(start, cursor);
        EXPECT_TRUE(cursor >= start && cursor <= start + text.size()) << "cursor left the text";
    }
    return views;
}
}  // namespace

TEST(NoticeFormat, RotationStepsOneLineATick) {
    const std::string abc = "A\r\nB\r\nC\r\n";
    EXPECT_EQ(Views(abc, 6), (std::vector<std::string>{abc, "B\r\nC\r\nA\r\n", "C\r\nA\r\nB\r\n", abc,
                                                       "B\r\nC\r\nA\r\n", "C\r\nA\r\nB\r\n"}));
    const std::string open = "A\r\nB\r\nC";
    EXPECT_EQ(Views(open, 5), (std::vector<std::string>{open, "B\r\nCA\r\n", "CA\r\nB\r\n", "B\r\nCA\r\n",
                                                        "CA\r\nB\r\n"}));
    EXPECT_EQ(Views("only\r\n", 3), (std::vector<std::string>{"only\r\n", "only\r\n", "only\r\n"}));
    EXPECT_EQ(Views("no line break", 3), (std::vector<std::string>{"no line break", "no line break", "no line break"}));
    EXPECT_EQ(Views("", 2), (std::vector<std::string>{"", ""}));
}

TEST(StatusStrings, StringTableBlocksAreReadWithinTheirLength) {
    // Block: "" (0), "ab" (1), "" (2), "xyz" (3); then lengths that run past the block's end.
    const std::uint16_t block[] = {0, 2, 'a', 'b', 0, 3, 'x', 'y', 'z', 5, 'q'};
    const struct {
        std::size_t units;
        unsigned index;
        int at;  // unit of the string's first character, or -1 for none
        std::size_t length;
    } cases[] = {
        {11, 0, 1, 0}, {11, 1, 2, 2}, {11, 2, 5, 0}, {11, 3, 6, 3},
        {11, 4, -1, 0},  // claims 5 units where 1 is left
        {11, 15, -1, 0}, {9, 3, 6, 3}, {8, 3, -1, 0}, {0, 0, -1, 0}, {1, 0, 1, 0},
    };
    for (const auto& c : cases) {
        std::size_t length = 99;
        const std::uint16_t* s = StringInBlock(block, c.units, c.index, &length);
        EXPECT_EQ(s == nullptr ? -1 : static_cast<int>(s - block), c.at) << c.units << " units, string " << c.index;
        if (s != nullptr) {
            EXPECT_EQ(length, c.length) << c.index;
        }
    }
}
