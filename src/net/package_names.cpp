// Portable package naming.
#include "net/package_names.h"

#include "base/text.h"

#include <cstring>

const RequiredLibrary RequiredSystemLibraries[kRequiredLibraryCount] = {
    {"mfc42.dll", 6, 0},    {"msvcrt.dll", 6, 0}, {"msvcrt40.dll", 4, 22},
    {"olepro32.dll", 5, 0}, {"wininet.dll", 5, 0},
};

bool VersionAtLeast(int major, int minor, int minMajor, int minMinor) {
    if (major != minMajor) return major > minMajor;
    return minor >= minMinor;
}

bool RequiredLibrariesPass(const char* folder, VersionReader readVersion) {
    for (const RequiredLibrary& library : RequiredSystemLibraries) {
        char path[300];
        if (CopyText(path, sizeof path, folder) != std::strlen(folder) || !AppendText(path, sizeof path, library.file))
            return false;
        int major = 0;
        int minor = 0;
        if (!readVersion(path, &major, &minor)) return false;
        if (!VersionAtLeast(major, minor, library.minMajor, library.minMinor)) return false;
    }
    return true;
}

const char* PackageVariant(bool allLibrariesPass) { return allLibrariesPass ? "_reg_" : "_sys_"; }

bool AppendPackageNames(const char* variant, const char* languageCode, char* noticeUrl,
                        std::size_t noticeCap, char* installerName, std::size_t installerCap) {
    // Built in a local first so that a name is appended whole or not at all.
    char name[64] = "p_Tavmok";
    bool built = AppendText(name, sizeof name, variant) && AppendText(name, sizeof name, languageCode);
    std::size_t stem = std::strlen(name);
    bool noticeFits = built && AppendText(name, sizeof name, ".") &&
                      AppendText(name, sizeof name, languageCode) &&
                      AppendText(noticeUrl, noticeCap, name);
    name[stem] = 0;
    bool installerFits = built && AppendText(name, sizeof name, ".exe") &&
                         AppendText(installerName, installerCap, name);
    return noticeFits && installerFits;
}
