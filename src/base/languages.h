// The sixteen languages of the loader and its download site, in the chooser's button order:
// the three-letter code that the site's file names carry, the ANSI code page of Windows
// systems of that language, in which the loader shows that language's notice text, and the
// Windows language id under which the resources hold that language's texts.
#pragma once

constexpr int kLanguageCount = 16;
constexpr int kEnglishIndex = 2;
constexpr int kHebrewIndex = 13;  // the two right-to-left languages
constexpr int kArabicIndex = 14;

struct Language {
    char code[4];
    unsigned short codePage;
    unsigned short langId;
};
extern const Language Languages[kLanguageCount];

// The index of the language whose code is `code` (exactly, e.g. "JAP"), or -1.
int FindLanguage(const char* code);
