// Portable: the backwards scan covers the whole value, arguments included, exactly as the
// installer's uninstall entries have always been read; a backslash in the arguments therefore
// yields a path that no rename can use, which leaves the old folder alone.
#include "ui/uninstall_path.h"


namespace {
template <typename Char>
Char* CutAtLastBackslash(Char* value) {
    Char* quote = value;
    while (*quote != 0 && *quote != '"') ++quote;
    if (*quote == 0) return nullptr;
    Char* folder = quote + 1;
    Char* end = value;
    while (*end != 0) ++end;
    // The folder path's own first character is never a candidate for the cut.
    for (Char* p = end - 1; p > folder; --p) {
        if (*p == '\\') {
            *p = 0;
            return folder;
        }
    }
    return nullptr;
}
}  // namespace

char* CutUninstallFolder(char* value) { return CutAtLastBackslash(value); }
wchar_t* CutUninstallFolder(wchar_t* value) { return CutAtLastBackslash(value); }
