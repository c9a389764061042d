// Package selection on DLLs built by the tests with chosen file versions.
#include "net/package_selection.h"

#include "base/loader_state.h"
#include "net/package_names.h"
#include "win_test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {
std::string VersionedDll(const char* version) {
    const char* dir = std::getenv("LOADER_VERSIONED_DIR");
    std::string path = std::string(dir ? dir : ".") + "/v" + version + ".dll";
    for (char& c : path) c = c == '/' ? '\\' : c;
    if (path.size() > 1 && path[0] == '\\') path = "Z:" + path;
    return path;
}

// Wine answers a path whose file name is one of its own libraries (msvcrt.dll, wininet.dll)
// with its built-in copy, whatever the folder. The test libraries are therefore stored under
// the required name plus this suffix, and the reader below adds it before asking the real
// GetFileVersionPair.
const char kStoredSuffix[] = ".tested";

std::vector<std::string> looked;

int ReadStoredVersion(const char* path, int* major, int* minor) {
    looked.push_back(path);
    return GetFileVersionPair((std::string(path) + kStoredSuffix).c_str(), major, minor);
}

// A folder holding the five libraries at the given versions; nullptr leaves a library out.
std::string LibraryFolder(const char* name, const char* const versions[5]) {
    std::string folder = MakeScratchFolder(name);
    for (int i = 0; i < kRequiredLibraryCount; ++i) {
        if (versions[i] == nullptr) continue;
        std::string target = folder + "\\" + RequiredSystemLibraries[i].file + kStoredSuffix;
        EXPECT_TRUE(CopyFileA(VersionedDll(versions[i]).c_str(), target.c_str(), FALSE)) << target;
    }
    return folder + "\\";
}
}  // namespace

TEST(PackageSelectionTest, GetFileVersionPairReadsTheFixedFileVersion) {
    int major = -1;
    int minor = -1;
    ASSERT_EQ(GetFileVersionPair(VersionedDll("4_22").c_str(), &major, &minor), 1);
    EXPECT_EQ(major, 4);
    EXPECT_EQ(minor, 22) << "minor comes from dwFileVersionMS, not the build number or product version";
    major = minor = -7;
    std::string folder = MakeScratchFolder("noversion");
    WriteWholeFile(folder + "\\plain.dll", "not a program");
    EXPECT_EQ(GetFileVersionPair((folder + "\\plain.dll").c_str(), &major, &minor), 0);
    EXPECT_EQ(GetFileVersionPair((folder + "\\missing.dll").c_str(), &major, &minor), 0);
    EXPECT_EQ(major, -7);
    EXPECT_EQ(minor, -7);
}

TEST(PackageSelectionTest, VariantFollowsTheVersionsOfTheFiveLibraries) {
    struct Case {
        const char* name;
        const char* versions[5];
        bool pass;
        std::size_t looked;  // libraries read before the decision
    };
    const Case cases[] = {
        {"exact-minimums", {"6_0", "6_0", "4_22", "5_0", "5_0"}, true, 5},
        {"msvcrt40-4.21", {"6_0", "6_0", "4_21", "5_0", "5_0"}, false, 3},
        {"msvcrt40-5.0", {"6_0", "6_0", "5_0", "5_0", "5_0"}, true, 5},
        {"mfc42-missing", {nullptr, "6_0", "4_22", "5_0", "5_0"}, false, 1},
        {"mfc42-5.99", {"5_99", "6_0", "4_22", "5_0", "5_0"}, false, 1},
        {"wininet-missing", {"6_0", "6_0", "4_22", "5_0", nullptr}, false, 5},
    };
    for (const Case& c : cases) {
        std::string folder = LibraryFolder(c.name, c.versions);
        looked.clear();
        EXPECT_EQ(RequiredLibrariesPass(folder.c_str(), ReadStoredVersion), c.pass) << c.name;
        EXPECT_EQ(looked.size(), c.looked) << c.name << ": selection stops at the first failing library";
    }
}

TEST(PackageSelectionTest, SelectPackageAppendsBothNamesForTheChosenLanguage) {
    char notice[kWorkBufferSize] = "http://dl.example/files/";
    char installer[kUrlBufferSize] = "";
    LanguageCode = "DEU";
    EXPECT_EQ(SelectPackage(notice, installer), 1);
    // Wine's system folder lacks the old runtime libraries, so this machine gets "_sys_".
    EXPECT_STREQ(notice, "http://dl.example/files/p_Tavmok_sys_DEU.DEU");
    EXPECT_STREQ(installer, "p_Tavmok_sys_DEU.exe");
    LanguageCode = "ENG";
}
