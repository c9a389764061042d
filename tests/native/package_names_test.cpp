// Package variant rules and the two file names; the report's query, as the endpoint reads it.
#include "net/package_names.h"
#include "net/report_fields.h"
#include "endpoint/report_query.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {
std::map<std::string, std::pair<int, int>> versions;
std::vector<std::string> asked;

int ScriptedVersion(const char* path, int* major, int* minor) {
    asked.push_back(path);
    auto it = versions.find(path);
    if (it == versions.end()) return 0;
    *major = it->second.first;
    *minor = it->second.second;
    return 1;
}

void SetAll(int mfc, int mfcMinor, int crt, int crtMinor, int crt40, int crt40Minor, int ole, int oleMinor, int inet,
            int inetMinor) {
    versions = {{"S\\mfc42.dll", {mfc, mfcMinor}},   {"S\\msvcrt.dll", {crt, crtMinor}},
                {"S\\msvcrt40.dll", {crt40, crt40Minor}}, {"S\\olepro32.dll", {ole, oleMinor}},
                {"S\\wininet.dll", {inet, inetMinor}}};
}
}  // namespace

TEST(PackageNames, LibrariesPassAtTheirMinimumsAndSelectionStopsAtTheFirstFailure) {
    SetAll(6, 0, 6, 0, 4, 22, 5, 0, 5, 0);
    asked.clear();
    EXPECT_TRUE(RequiredLibrariesPass("S\\", ScriptedVersion));
    EXPECT_EQ(asked.size(), 5u);

    SetAll(6, 0, 6, 0, 4, 21, 5, 0, 5, 0);
    asked.clear();
    EXPECT_FALSE(RequiredLibrariesPass("S\\", ScriptedVersion));
    EXPECT_EQ(asked.size(), 3u);

    SetAll(6, 0, 6, 0, 5, 0, 5, 0, 5, 0);
    EXPECT_TRUE(RequiredLibrariesPass("S\\", ScriptedVersion)) << "a higher major passes whatever the minor";

    versions.erase("S\\mfc42.dll");
    asked.clear();
    EXPECT_FALSE(RequiredLibrariesPass("S\\", ScriptedVersion));
    EXPECT_EQ(asked, std::vector<std::string>{"S\\mfc42.dll"});

    EXPECT_FALSE(RequiredLibrariesPass(std::string(400, 'x').c_str(), ScriptedVersion)) << "a path that cannot be built";
}

TEST(PackageNames, VersionPairsCompareMajorFirst) {
    EXPECT_TRUE(VersionAtLeast(6, 0, 6, 0));
    EXPECT_TRUE(VersionAtLeast(7, 0, 6, 5));
    EXPECT_FALSE(VersionAtLeast(5, 99, 6, 0));
    EXPECT_FALSE(VersionAtLeast(4, 21, 4, 22));
    EXPECT_TRUE(VersionAtLeast(4, 23, 4, 22));
}

TEST(PackageNames, NamesAreAppendedWithoutSeparatorAndOnlyWhenTheyFit) {
    char notice[64] = "http://dl.example/files/";
    char installer[32] = "";
    EXPECT_TRUE(AppendPackageNames(PackageVariant(true), "ENG", notice, sizeof notice, installer, sizeof installer));
    EXPECT_STREQ(notice, "http://dl.example/files/p_Tavmok_reg_ENG.ENG");
    EXPECT_STREQ(installer, "p_Tavmok_reg_ENG.exe");

    char small[30] = "http://dl.example/files/";
    char name[21] = "";
    EXPECT_FALSE(AppendPackageNames(PackageVariant(false), "HEB", small, sizeof small, name, sizeof name));
    EXPECT_STREQ(small, "http://dl.example/files/") << "a name that does not fit is not appended";
    EXPECT_STREQ(name, "p_Tavmok_sys_HEB.exe") << "20 characters and the NUL fit 21 bytes";
}

// Whatever the stamp holds, the report is one that the endpoint takes, with the stamp's values
// where they fit their fields and empty where they do not.
TEST(ReportQuery, TheEndpointTakesEveryReportWithTheStampsValuesWhereTheyFit) {
    const struct {
        const char* stampTag;
        const char* tag;
        const char* id;
    } stamps[] = {{"A17_0123456789abcdef0123", "A17", "0123456789abcdef0123"}, {"V101", "V101", ""}, {"", "", ""},
                  {"A17_12345678901234567890a", "A17", ""}, {"A17_xyz!", "A17", ""}, {"ABCDEFGHIJKL_ab", "", "ab"},
                  {"A B&x=1_ab", "", "ab"}, {"_ab", "", "ab"}};
    for (const auto& stamp : stamps) {
        for (const char* outcome : {static_cast<const char*>(nullptr), "installer-started", "message-5"}) {
            const std::uint32_t end[5] = {120, 4000, 503, 12002, 1};
            ReportFields f{outcome ? "end" : "chosen", outcome, stamp.stampTag, "JAP", {10, 0, 19045}, true, false,
                           4294967295u, 70000, end};
            char url[512];
            ASSERT_TRUE(BuildReportUrl("https://r.example/report", f, url, sizeof url));
            std::string text = url;
            ASSERT_EQ(text.rfind("https://r.example/report?", 0), 0u);
            Report r;
            std::string why;
            ASSERT_TRUE(ReadReport(text.substr(text.find('?') + 1), &r, &why)) << text << ": " << why;
            EXPECT_EQ(r.tag, stamp.tag) << stamp.stampTag;
            EXPECT_EQ(r.id, stamp.id) << stamp.stampTag;
            EXPECT_EQ(r.os, "10.0.19045");
            EXPECT_EQ(r.outcome, outcome ? outcome : "");
            if (outcome) {
                EXPECT_EQ(r.bytes, 4294967295u);
                EXPECT_EQ(r.attempts, 1u);
                EXPECT_EQ(r.http, 503u);
            }
        }
    }
    ReportFields f{"cancelled", nullptr, "A17", "ENG", {5, 1, 2600}, false, true, 0, 0, nullptr};
    char small[40];
    EXPECT_FALSE(BuildReportUrl("https://r.example/report", f, small, sizeof small));
    EXPECT_STREQ(small, "") << "a report that does not fit is not sent cut";
}
