// Language pre-selection, the right-to-left restriction and the "HAND " option.
#include "app/command_line.h"
#include "app/language_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {
unsigned short LangId(unsigned primary, unsigned sub) { return static_cast<unsigned short>(primary | sub << kPrimaryLanguageBits); }
}  // namespace

TEST(StartupRules, SystemLanguagePicksItsButtonAndNativeCaption) {
    struct Case {
        unsigned primary, sub;
        const char* code;  // nullptr: no button
        const char* caption;
    } cases[] = {
        {7, 1, "DEU", nullptr},
        {9, 1, "ENG", nullptr},
        {17, 1, "JAP", "\x93\xFA\x96\x7B\x8C\xEA"},
        {4, 1, "CHT", "\xA4\xA4\xA4\xE5"},
        {4, 2, "CHS", "\xD6\xD0\xCE\xC4"},
        {6, 1, "DAN", "Dansk"},
        {18, 1, "KOR", "\xC7\xD1\xB1\xDB"},
        {8, 1, "GRE", "\xC5\xEB\xEB\xE7\xED\xE9\xEA\xDC"},
        {13, 1, "HEB", "\xF2\xE1\xF8\xE9\xFA"},
        {1, 1, "ARA", "\xDA\xD1\xC8\xED"},
        {29, 1, "SWE", nullptr},
        {25, 1, "ENG", nullptr},  // Russian has no row
        {21, 1, "ENG", nullptr},  // Polish
        {4, 3, "CHT", nullptr},   // Hong Kong: traditional script, template caption
        {4, 4, "CHS", nullptr},   // Singapore: simplified script
        {4, 0, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        LanguagePick pick = PickLanguageForSystem(LangId(c.primary, c.sub));
        if (c.code == nullptr) {
            EXPECT_EQ(pick.index, -1) << c.primary << "/" << c.sub;
            continue;
        }
        ASSERT_GE(pick.index, 0) << c.primary << "/" << c.sub;
        EXPECT_STREQ(Languages[pick.index].code, c.code) << c.primary << "/" << c.sub;
        if (c.caption == nullptr) {
            EXPECT_EQ(pick.caption, nullptr) << c.code;
        } else {
            ASSERT_NE(pick.caption, nullptr) << c.code;
            EXPECT_STREQ(pick.caption, c.caption) << c.code;
        }
    }
    EXPECT_EQ(FindLanguage("HEB"), kHebrewIndex);
    EXPECT_EQ(FindLanguage("ARA"), kArabicIndex);
    EXPECT_EQ(FindLanguage("ENG"), kEnglishIndex);
    EXPECT_EQ(FindLanguage("EN"), -1);
    EXPECT_EQ(FindLanguage("ENGL"), -1);
}

TEST(StartupRules, RightToLeftChoicesAreRestrictedOnlyBelowWindows2000) {
    EXPECT_TRUE(ShouldRestrictRtlChoices(0x0004, 7)) << "NT 4 German";
    EXPECT_FALSE(ShouldRestrictRtlChoices(0x0004, 1)) << "Arabic system";
    EXPECT_FALSE(ShouldRestrictRtlChoices(0x0004, 13)) << "Hebrew system";
    EXPECT_FALSE(ShouldRestrictRtlChoices(0x0005, 7)) << "Windows 2000";
    EXPECT_FALSE(ShouldRestrictRtlChoices(0x23F00206, 7)) << "only the low byte is the major version";
}

TEST(StartupRules, HandOptionTakesTheExactTailCutTo255) {
    struct Case {
        const char* tail;
        bool taken;
        std::string url;
    } cases[] = {
        {"HAND http://cfg.example/x", true, "http://cfg.example/x"},
        {"HAND  \"quoted\" url", true, " \"quoted\" url"},
        {"HAND ", true, ""},
        {"HAND", false, ""},
        {"hand http://x", false, ""},
        {" HAND http://x", false, ""},
        {"XHAND http://x", false, ""},
        {"", false, ""},
    };
    for (const Case& c : cases) {
        char url[256] = {};
        EXPECT_EQ(ParseHandOption(c.tail, url, sizeof url), c.taken) << c.tail;
        EXPECT_EQ(std::string(url), c.url) << c.tail;
    }
    EXPECT_FALSE(ParseHandOption(nullptr, nullptr, 0));

    // The tail comes from the whole command line: past the program name, quoted or not.
    const char* lines[][2] = {
        {"\"C:\\Program Files\\loader.exe\" HAND http://x", "HAND http://x"},
        {"\"C:\\a b\\loader.exe\"HAND x", "x"},  // the name runs on to the blank
        {"C:\\\"My Games\"\\loader.exe HAND url", "HAND url"},
        {"\"C:\\My \"Games\\loader.exe HAND x", "HAND x"},
        {"loader.exe\x01\x02\rHAND x", "HAND x"},
        {"loader.exe \t  HAND x", "HAND x"},
        {"\"C:\\a b\\loader.exe\"", ""},
        {"\"unterminated HAND x", ""},
        {"loader.exe", ""},
    };
    for (const auto& line : lines) {
        std::string whole = line[0];
        EXPECT_STREQ(CommandLineTail(&whole[0]), line[1]) << line[0];
    }

    std::string tail = "HAND " + std::string(300, 'u');
    char url[256 + 8];
    std::memset(url, 'G', sizeof url);
    ASSERT_TRUE(ParseHandOption(tail.c_str(), url, 256));
    EXPECT_EQ(std::strlen(url), 255u);
    EXPECT_EQ(url[256], 'G') << "nothing beyond the 256-byte buffer";
}
