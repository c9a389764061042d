// The chooser's rules: which system default language pre-selects which button with which
// native-script caption; and the entry point's command line.
#pragma once
#include "base/languages.h"

constexpr int kFirstLanguageButton = 1015;

struct LanguagePick {
    int index;             // into Languages, -1 when no button is pre-selected
    const char* caption;   // native-script caption to set, or nullptr to keep the template's
};

// Maps a system default LANGID to the button to check.
LanguagePick PickLanguageForSystem(unsigned short langid);

// The Hebrew and Arabic buttons are disabled below Windows 2000 unless the system speaks one of them.
bool ShouldRestrictRtlChoices(unsigned int getVersionResult, unsigned int primaryLanguage);

// "HAND " option: copies the URL after the exact prefix into dst (cap bytes, always terminated,
// at most cap - 1 characters). Returns true when the tail carried the option.
bool ParseHandOption(const char* tail, char* dst, unsigned cap);

// The arguments after the program name of a command line (what WinMain receives), split as the
// C runtime splits it: the name runs to the first blank outside quotes, then blanks are skipped.
char* CommandLineTail(char* commandLine);
