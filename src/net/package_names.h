// The five system libraries that decide the package variant, and the two file names built from
// the variant and the language code.
#pragma once
#include <cstddef>

// Names held in place and versions in bytes: the table costs the program no pointers.
struct RequiredLibrary {
    char file[13];
    unsigned char minMajor;
    unsigned char minMinor;
};

constexpr int kRequiredLibraryCount = 5;

// "p_Tavmok" (8), the variant "_reg_" or "_sys_" (5), a three-letter language code and ".exe".
constexpr std::size_t kInstallerNameLength = 8 + 5 + 3 + 4;
extern const RequiredLibrary RequiredSystemLibraries[kRequiredLibraryCount];

// Pair comparison: major first, minor only when the majors are equal.
bool VersionAtLeast(int major, int minor, int minMajor, int minMinor);

// Reads a file's (major, minor); 1 on success, 0 when it has no readable version.
using VersionReader = int (*)(const char* path, int* major, int* minor);

// True when every required library under folder (ending with a separator) is present at or
// above its minimum version. Stops at the first library that is not.
bool RequiredLibrariesPass(const char* folder, VersionReader readVersion);

// "_reg_" when every library passed, "_sys_" otherwise.
const char* PackageVariant(bool allLibrariesPass);

// Appends "p_Tavmok" variant code "." code to noticeUrl and "p_Tavmok" variant code ".exe" to
// installerName; a name that does not fit its buffer is not appended. Returns true when both fit.
bool AppendPackageNames(const char* variant, const char* languageCode, char* noticeUrl,
                        std::size_t noticeCap, char* installerName, std::size_t installerCap);
