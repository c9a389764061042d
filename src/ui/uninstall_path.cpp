// Portable: the backwards scan covers the whole value, arguments included, exactly as the
// installer's uninstall entries have always been read; a backslash in the arguments therefore
// yields a path that no rename can use, which leaves the old folder alone.
#include "ui/uninstall_path.h"

#include <cstring>

char* CutUninstallFolder(char* value) {
    char* quote = std::strchr(value, '"');
    if (quote == nullptr) return nullptr;
    char* folder = quote + 1;
    // The folder path's own first character is never a candidate for the cut.
    for (char* p = value + std::strlen(value) - 1; p > folder; --p) {
        if (*p == '\\') {
            *p = 0;
            return folder;
        }
    }
    return nullptr;
}
