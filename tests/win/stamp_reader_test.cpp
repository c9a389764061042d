// The stamp reader and the registry records against real files and the Wine registry.
#include "stamp/stamp_reader.h"

#include "base/loader_state.h"
#include "base/text.h"
#include "net/builtin_config.h"
#include "net/scrambler.h"
#include "stamp/registry_records.h"
#include "stamp/stamp_writer.h"
#include "win_test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {
std::string QueryValue(const char* path, const char* name, bool* exists = nullptr) {
    HKEY key;
    if (exists) *exists = false;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, path, &key) != ERROR_SUCCESS) return "";
    char data[1024];
    DWORD size = sizeof data;
    LONG rc = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return "";
    if (exists) *exists = true;
    return std::string(data, size > 0 ? size - 1 : 0);
}

std::string TrackingPath() {
    char* path = UnscrambledCopy(TrackingKeyPath);
    std::string p(path);
    std::free(path);
    return p;
}

std::string WindowsTemp() {
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    return std::string(windows) + "\\temp\\";
}

// The reader takes wide names; the test's paths are plain ASCII.
std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

std::string StampedFile(const StampFields& fields) {
    std::vector<unsigned char> bytes(1000, 'P');
    EXPECT_EQ(BuildStamp(fields, bytes), "");
    std::string path = MakeScratchFolder("stamp") + "\\copy.exe";
    WriteWholeFile(path, std::string(bytes.begin(), bytes.end()));
    return path;
}

class StampReaderTest : public testing::Test {
protected:
    void SetUp() override {
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\Halvorn Casino");
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, TrackingPath().c_str());
        CopyText(CasinoName, kCasinoTextSize, "Halvorn Casino");
        CopyText(CasinoAddress, kCasinoTextSize, kDefaultCasinoAddress);
        std::memset(CasinoCompany, 0, kCasinoTextSize);
        std::memset(tag_, 0, sizeof tag_);
        std::memset(&branding_, 0, sizeof branding_);
    }
    char tag_[kStampTagBufferSize];
    BrandingRecord branding_;
};
}  // namespace

TEST_F(StampReaderTest, FullStampFillsNamesRegistryImageAndBranding) {
    StampFields f;
    f.versionTag = "V101";
    f.downloadId = "12345";
    f.hasNames = true;
    f.name = "Alpha Casino";
    f.address = "www.alpha.example";
    f.company = "Alpha Ltd";
    f.hasBranding = true;
    f.image = {'B', 'M', 0, 1, 2, 255, 0, 7};
    f.red = 255;
    f.green = 16;
    f.blue = 0;
    f.startX = 65535;
    f.startY = 300;
    ASSERT_EQ(ReadDistributionStampFrom(Wide(StampedFile(f)).c_str(), tag_, &branding_), 1);
    EXPECT_STREQ(tag_, "V101_12345");
    EXPECT_STREQ(CasinoName, "Alpha Casino");
    EXPECT_STREQ(CasinoAddress, "www.alpha.example");
    EXPECT_STREQ(CasinoCompany, "Alpha Ltd");
    const char* misc = MiscKey;
    EXPECT_EQ(QueryValue(misc, "Surname"), "Alpha Casino");
    EXPECT_EQ(QueryValue(misc, "URL"), "www.alpha.example");
    EXPECT_EQ(QueryValue(misc, "CompanyName"), "Alpha Ltd");
    std::string image = WindowsTemp() + "V101_12345.img";
    EXPECT_EQ(ReadWholeFile(image), std::string(f.image.begin(), f.image.end()));
    EXPECT_STREQ(branding_.BMPPath, image.c_str());
    EXPECT_STREQ(branding_.TColorR, "255");
    EXPECT_STREQ(branding_.TColorG, "16");
    EXPECT_STREQ(branding_.TColorB, "0");
    EXPECT_STREQ(branding_.StartX, "65535");
    EXPECT_STREQ(branding_.StartY, "300");
}

TEST_F(StampReaderTest, TagsThatAreNotPlainFileNamesWriteNoImage) {
    for (const char* bad : {"..\\evil", "a/b", "C:x", "CON", "nul.x", "a*b"}) {
        StampFields f;
        f.versionTag = bad;
        f.hasBranding = true;
        f.image = {1, 2, 3};
        std::string outside = WindowsTemp() + std::string(bad) + ".img";
        DeleteFileA((WindowsTemp() + "..\\evil.img").c_str());
        std::memset(&branding_, 0, sizeof branding_);
        ASSERT_EQ(ReadDistributionStampFrom(Wide(StampedFile(f)).c_str(), tag_, &branding_), 1) << bad;
        EXPECT_STREQ(tag_, bad) << "the tag itself is still returned";
        EXPECT_STREQ(branding_.BMPPath, "") << bad;
        EXPECT_EQ(GetFileAttributesA((WindowsTemp() + "..\\evil.img").c_str()), INVALID_FILE_ATTRIBUTES) << bad;
    }
}

TEST_F(StampReaderTest, NamesWithoutDownloadTagAreStoredButReportNoStamp) {
    std::vector<unsigned char> bytes(500, 'P');
    StampFields f;
    f.hasNames = true;
    f.name = "Beta";
    f.address = "beta.example";
    ASSERT_EQ(BuildStamp(f, bytes), "");
    bytes[bytes.size() - 1] = 'X';  // "DLIX"
    std::string path = MakeScratchFolder("stamp-nodlid") + "\\copy.exe";
    WriteWholeFile(path, std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(ReadDistributionStampFrom(Wide(path).c_str(), tag_, &branding_), 0);
    EXPECT_STREQ(tag_, "");
    EXPECT_STREQ(CasinoName, "Beta");
    EXPECT_EQ(QueryValue(MiscKey, "URL"), "beta.example");
    EXPECT_EQ(ReadDistributionStampFrom(L"Z:\\no\\such\\file.exe", tag_, &branding_), 0);
}

TEST_F(StampReaderTest, NameOverridesComeFromMiscKeyWhenSetAndNotEmpty) {
    LoadNameOverrides();
    EXPECT_STREQ(CasinoName, "Halvorn Casino") << "no key: built-in values";
    HKEY key;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, MiscKey, &key), ERROR_SUCCESS);
    RegSetValueExA(key, "Surname", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1);
    LoadNameOverrides();
    EXPECT_STREQ(CasinoName, "Halvorn Casino") << "empty Surname changes nothing";
    RegSetValueExA(key, "Surname", 0, REG_SZ, reinterpret_cast<const BYTE*>("Gamma"), 6);
    LoadNameOverrides();
    EXPECT_STREQ(CasinoName, "Gamma");
    EXPECT_STREQ(CasinoAddress, kDefaultCasinoAddress) << "URL absent: address unchanged";
    std::string huge(200, 'u');
    RegSetValueExA(key, "URL", 0, REG_SZ, reinterpret_cast<const BYTE*>(huge.c_str()), 201);
    LoadNameOverrides();
    EXPECT_STREQ(CasinoAddress, kDefaultCasinoAddress) << "a value longer than 79 characters is ignored";
    RegCloseKey(key);
}

TEST_F(StampReaderTest, TrackingRecordKeepsTheFirstPlainTagAndWritesBrandingOnlyWithIt) {
    const std::string path = TrackingPath();
    BrandingRecord empty{};
    BrandingRecord filled{};
    std::strcpy(filled.BMPPath, "C:\\windows\\temp\\x.img");
    std::strcpy(filled.TColorR, "1");
    std::strcpy(filled.TColorG, "2");
    std::strcpy(filled.TColorB, "3");
    std::strcpy(filled.StartX, "4");
    std::strcpy(filled.StartY, "5");
    bool exists = false;

    WriteTrackingRecord("V101", &empty);
    EXPECT_EQ(QueryValue(path.c_str(), "", &exists), "V101");
    EXPECT_TRUE(exists);
    QueryValue(path.c_str(), "BMPPath", &exists);
    EXPECT_FALSE(exists);

    WriteTrackingRecord("V101", &filled);
    QueryValue(path.c_str(), "BMPPath", &exists);
    EXPECT_FALSE(exists) << "V101 on an existing record writes nothing, branding included";

    WriteTrackingRecord("v101", &filled);
    EXPECT_EQ(QueryValue(path.c_str(), ""), "v101") << "the comparison is exact";
    EXPECT_EQ(QueryValue(path.c_str(), "BMPPath"), "C:\\windows\\temp\\x.img");
    EXPECT_EQ(QueryValue(path.c_str(), "StartY"), "5");

    WriteTrackingRecord("V101_12345", &empty);
    EXPECT_EQ(QueryValue(path.c_str(), ""), "V101_12345");
    EXPECT_EQ(QueryValue(path.c_str(), "TColorG"), "2") << "earlier branding values remain";

    DeleteRegistryTree(HKEY_LOCAL_MACHINE, path.c_str());
    WriteTrackingRecord("", &empty);
    EXPECT_EQ(QueryValue(path.c_str(), "", &exists), "");
    EXPECT_TRUE(exists) << "an absent key is created with an empty default value";
}
