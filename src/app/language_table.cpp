// Portable language logic of the chooser.
#include "app/language_table.h"

#include <cstring>

namespace {
// Each language's own name in the ANSI code page that a system with that default language uses.
const char kCaptionChineseTraditional[] = "\xA4\xA4\xA4\xE5";
const char kCaptionJapanese[] = "\x93\xFA\x96\x7B\x8C\xEA";
const char kCaptionKorean[] = "\xC7\xD1\xB1\xDB";
const char kCaptionGreek[] = "\xC5\xEB\xEB\xE7\xED\xE9\xEA\xDC";
const char kCaptionChineseSimplified[] = "\xD6\xD0\xCE\xC4";
const char kCaptionHebrew[] = "\xF2\xE1\xF8\xE9\xFA";
const char kCaptionArabic[] = "\xDA\xD1\xC8\xED";
const char kCaptionDanish[] = "Dansk";

// Each language's own name, where the template's caption is not already it.
const char* const kNativeCaptions[kLanguageCount] = {
    kCaptionChineseTraditional, nullptr, nullptr, nullptr, nullptr, nullptr, kCaptionJapanese, kCaptionKorean,
    nullptr, nullptr, nullptr, kCaptionGreek, kCaptionChineseSimplified, kCaptionHebrew, kCaptionArabic, kCaptionDanish,
};

// A system's primary language and the index of its button.
struct PrimaryRow {
    unsigned char primary;
    unsigned char index;
};

const PrimaryRow kPrimaryRows[] = {
    {7, 1}, {9, 2}, {10, 3}, {12, 4}, {16, 5}, {17, 6}, {18, 7},
    {19, 8}, {22, 9}, {29, 10}, {8, 11}, {13, 13}, {1, 14}, {6, 15},
};
}  // namespace

LanguagePick PickLanguageForSystem(unsigned short langid) {
    unsigned primary = PrimaryLanguage(langid);
    unsigned sub = SubLanguage(langid);
    if (primary == 4) {
        if (sub == 1) return {0, kNativeCaptions[0]};
        if (sub == 2) return {12, kNativeCaptions[12]};
        // Hong Kong, Singapore and Macao use the traditional or simplified script, but the
        // button texts are in code pages 950 and 936 that those systems may not use: pre-select
        // by script and keep the template caption.
        if (sub == 3 || sub == 5) return {0, nullptr};
        if (sub == 4) return {12, nullptr};
        return {-1, nullptr};
    }
    for (const PrimaryRow& row : kPrimaryRows) {
        if (row.primary == primary) return {row.index, kNativeCaptions[row.index]};
    }
    return {kEnglishIndex, nullptr};
}

bool ShouldRestrictRtlChoices(unsigned int getVersionResult, unsigned int primaryLanguage) {
    unsigned major = getVersionResult & 0xFFu;
    return major < 5 && primaryLanguage != 1 && primaryLanguage != 13;
}
