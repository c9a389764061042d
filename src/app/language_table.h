// The chooser's rules: which system default language pre-selects which button with which
// native-script caption.
#pragma once
#include "base/languages.h"

// A LANGID is a primary language in its low 10 bits and a sublanguage in the 6 above them.
constexpr unsigned kPrimaryLanguageBits = 10;
constexpr unsigned PrimaryLanguage(unsigned langid) { return langid & ((1u << kPrimaryLanguageBits) - 1); }
constexpr unsigned SubLanguage(unsigned langid) { return (langid & 0xFFFFu) >> kPrimaryLanguageBits; }

struct LanguagePick {
    int index;             // into Languages, -1 when no button is pre-selected
    const char* caption;   // native-script caption to set, or nullptr to keep the template's
};

// Maps a system default LANGID to the button to check.
LanguagePick PickLanguageForSystem(unsigned short langid);

// The Hebrew and Arabic buttons are disabled below Windows 2000 unless the system speaks one of them.
bool ShouldRestrictRtlChoices(unsigned int getVersionResult, unsigned int primaryLanguage);

