// RegKey against the Wine registry.
#include "stamp/reg_key.h"

#include "win_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {
const char kTestKey[] = "SOFTWARE\\LoaderTests\\RegKey";

class RegKeyTest : public testing::Test {
protected:
    void SetUp() override { DeleteRegistryTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\LoaderTests"); }
    void TearDown() override { DeleteRegistryTree(HKEY_LOCAL_MACHINE, "SOFTWARE\\LoaderTests"); }

    static DWORD StoredSize(const char* name) {
        DWORD size = 0;
        DWORD type = 0;
        HKEY k;
        if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kTestKey, &k) != ERROR_SUCCESS) return 0xFFFFFFFF;
        LONG rc = RegQueryValueExA(k, name, nullptr, &type, nullptr, &size);
        RegCloseKey(k);
        return rc == ERROR_SUCCESS && type == REG_SZ ? size : 0xFFFFFFFF;
    }
};
}  // namespace

TEST_F(RegKeyTest, CreateSetQueryAndCloseFollowTheirContracts) {
    RegKey key;
    EXPECT_EQ(key.Open(HKEY_LOCAL_MACHINE, kTestKey), 0) << "open must not create";
    ASSERT_EQ(key.Create(HKEY_LOCAL_MACHINE, kTestKey), 1);
    EXPECT_EQ(key.SetString("", "Empty"), 1);
    EXPECT_EQ(key.SetString("Halvorn", "Name"), 1);
    EXPECT_EQ(key.SetString("default value", ""), 1);
    EXPECT_EQ(StoredSize("Empty"), 1u) << "an empty text is stored as its NUL alone";
    EXPECT_EQ(StoredSize("Name"), 8u);

    char buffer[80];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(key.QueryString(buffer, sizeof buffer, "Absent"), 0);
    EXPECT_STREQ(buffer, "");
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(key.QueryString(buffer, sizeof buffer, "Empty"), 1);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(key.QueryString(buffer, sizeof buffer, "Name"), 1);
    EXPECT_STREQ(buffer, "Halvorn");
    EXPECT_EQ(key.QueryString(buffer, sizeof buffer, ""), 1);
    EXPECT_STREQ(buffer, "default value");

    EXPECT_EQ(key.Close(), ERROR_SUCCESS);
    EXPECT_EQ(key.Close(), 0) << "closing an empty holder does nothing";
    EXPECT_EQ(key.SetString("late", "Late"), 0) << "nothing is written through a closed holder";
}

TEST_F(RegKeyTest, ValueLargerThanTheDestinationIsReportedAbsentAndNothingIsOverrun) {
    RegKey writer;
    ASSERT_EQ(writer.Create(HKEY_LOCAL_MACHINE, kTestKey), 1);
    std::string fits(79, 'a');
    std::string tooLong(80, 'b');
    writer.SetString(fits.c_str(), "Fits");
    writer.SetString(tooLong.c_str(), "TooLong");
    // Raw data without a terminator that fills the whole destination.
    HKEY raw;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, kTestKey, &raw), ERROR_SUCCESS);
    std::string unterminated(80, 'c');
    RegSetValueExA(raw, "Unterminated", 0, REG_BINARY, reinterpret_cast<const BYTE*>(unterminated.data()), 80);
    RegSetValueExA(raw, "Short", 0, REG_BINARY, reinterpret_cast<const BYTE*>("abc"), 3);
    RegCloseKey(raw);
    writer.Close();

    RegKey key;
    ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, kTestKey), 1);
    char guarded[80 + 16];
    std::memset(guarded, 'G', sizeof guarded);
    EXPECT_EQ(key.QueryString(guarded, 80, "Fits"), 1);
    EXPECT_EQ(std::string(guarded), fits);
    EXPECT_EQ(key.QueryString(guarded, 80, "TooLong"), 0);
    EXPECT_STREQ(guarded, "");
    EXPECT_EQ(key.QueryString(guarded, 80, "Unterminated"), 0);
    EXPECT_STREQ(guarded, "");
    EXPECT_EQ(key.QueryString(guarded, 80, "Short"), 1);
    EXPECT_STREQ(guarded, "abc") << "data without a NUL is terminated";
    for (std::size_t i = 80; i < sizeof guarded; ++i) EXPECT_EQ(guarded[i], 'G') << "byte " << i << " was overwritten";
}

TEST_F(RegKeyTest, DestructorClosesTheHeldKey) {
    HKEY held = nullptr;
    {
        RegKey key;
        ASSERT_EQ(key.Create(HKEY_LOCAL_MACHINE, kTestKey), 1);
        held = key.handle();
        ASSERT_NE(held, nullptr);
        DWORD values = 0;
        ASSERT_EQ(RegQueryInfoKeyA(held, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                                   nullptr, nullptr, nullptr), ERROR_SUCCESS);
    }
    DWORD values = 0;
    EXPECT_NE(RegQueryInfoKeyA(held, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                               nullptr, nullptr), ERROR_SUCCESS)
        << "the handle is still open after the holder was destroyed";
}
