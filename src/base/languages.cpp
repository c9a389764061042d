// One row per language, a fixed-size code in each, so the table holds no pointers.
#include "base/languages.h"

#include <cstring>

const Language Languages[kLanguageCount] = {
    {"CHT", 950},  {"DEU", 1252}, {"ENG", 1252}, {"SPA", 1252}, {"FRE", 1252}, {"ITA", 1252},
    {"JAP", 932},  {"KOR", 949},  {"DUT", 1252}, {"POR", 1252}, {"SWE", 1252}, {"GRE", 1253},
    {"CHS", 936},  {"HEB", 1255}, {"ARA", 1256}, {"DAN", 1252},
};

int FindLanguage(const char* code) {
    for (int i = 0; i < kLanguageCount; ++i) {
        if (std::strcmp(Languages[i].code, code) == 0) return i;
    }
    return -1;
}
