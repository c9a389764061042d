// One row per language, a fixed-size code in each, so the table holds no pointers.
#include "base/languages.h"

#include <cstring>

const Language Languages[kLanguageCount] = {
    {"CHT", 950, 0x0404},  {"DEU", 1252, 0x0407}, {"ENG", 1252, 0x0409}, {"SPA", 1252, 0x0C0A},
    {"FRE", 1252, 0x040C}, {"ITA", 1252, 0x0410}, {"JAP", 932, 0x0411},  {"KOR", 949, 0x0412},
    {"DUT", 1252, 0x0413}, {"POR", 1252, 0x0416}, {"SWE", 1252, 0x041D}, {"GRE", 1253, 0x0408},
    {"CHS", 936, 0x0804},  {"HEB", 1255, 0x040D}, {"ARA", 1256, 0x0401}, {"DAN", 1252, 0x0406},
};

int FindLanguage(const char* code) {
    for (int i = 0; i < kLanguageCount; ++i) {
        if (std::strcmp(Languages[i].code, code) == 0) return i;
    }
    return -1;
}
