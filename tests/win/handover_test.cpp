// RetireOldInstallation against real folders and a real uninstall key under HKLM.
#include "ui/handover.h"

#include "base/loader_state.h"
#include "base/text.h"
#include "win_test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace {
constexpr DWORD ERROR_ELEVATION_REQUIRED_CODE = 740;
const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Halvorn Casino";

bool IsFolder(const std::string& path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

void SetUninstallString(const std::string& value) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, kUninstallKey, &key), ERROR_SUCCESS);
    RegSetValueExA(key, "UninstallString", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
}

class HandoverTest : public testing::Test {
protected:
    void SetUp() override {
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, kUninstallKey);
        root_ = MakeScratchFolder("handover");
        casino_ = root_ + "\\Casino";
        CreateDirectoryA(casino_.c_str(), nullptr);
        WriteWholeFile(casino_ + "\\setup.exe", "old client");
    }
    void TearDown() override { DeleteRegistryTree(HKEY_LOCAL_MACHINE, kUninstallKey); }
    std::string root_;
    std::string casino_;
};
}  // namespace

TEST_F(HandoverTest, QuotedProgramPathMovesItsFolderToDotOld) {
    SetUninstallString("\"" + casino_ + "\\setup.exe\" /uninstall");
    RetireOldInstallation();
    EXPECT_FALSE(IsFolder(casino_));
    EXPECT_TRUE(IsFolder(casino_ + ".old"));
    EXPECT_EQ(ReadWholeFile(casino_ + ".old\\setup.exe"), "old client");
}

TEST_F(HandoverTest, ExistingDotOldLeadsToDotOldDotOld) {
    CreateDirectoryA((casino_ + ".old").c_str(), nullptr);
    SetUninstallString("\"" + casino_ + "\\setup.exe\"");
    RetireOldInstallation();
    EXPECT_FALSE(IsFolder(casino_));
    EXPECT_TRUE(IsFolder(casino_ + ".old"));
    EXPECT_TRUE(IsFolder(casino_ + ".old.old"));
}

TEST_F(HandoverTest, UnusableUninstallEntriesLeaveTheFolderAlone) {
    const std::string values[] = {
        casino_ + "\\setup.exe",                                   // no quote
        "\"" + casino_ + "\\setup.exe\" /log=C:\\logs\\u.txt",     // backslash in the arguments
        "",                                                        // empty value
        "\"" + std::string(1100, 'x') + "\\setup.exe\"",           // longer than the path buffer
    };
    for (const std::string& value : values) {
        SetUninstallString(value);
        RetireOldInstallation();
        EXPECT_TRUE(IsFolder(casino_)) << value.substr(0, 80);
        EXPECT_FALSE(IsFolder(casino_ + ".old")) << value.substr(0, 80);
    }
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, kUninstallKey);
    RetireOldInstallation();
    EXPECT_TRUE(IsFolder(casino_)) << "no uninstall key";
}

// Wine runs every process elevated, so the start through the shell is shown by its decision.
TEST(HandoverStart, ElevationGoesThroughTheShellAndADeclinedConsentFails) {
    const struct {
        DWORD error;
        bool throughShell;
        StartStep next;
    } cases[] = {
        {0, false, StartStep::kWaitForInput},
        {ERROR_ELEVATION_REQUIRED_CODE, false, StartStep::kStartThroughShell},
        {0, true, StartStep::kWaitForInput},
        {ERROR_CANCELLED, true, StartStep::kFail},
        {ERROR_ELEVATION_REQUIRED_CODE, true, StartStep::kFail},  // never a second round
        {ERROR_FILE_NOT_FOUND, false, StartStep::kFail},
        {ERROR_BAD_EXE_FORMAT, false, StartStep::kFail},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NextStartStep(c.error, c.throughShell), c.next) << c.error << (c.throughShell ? " shell" : "");
}

TEST_F(HandoverTest, TheUninstallKeyIsTheBuiltInProductsWhateverTheCasinoName) {
    CopyText(CasinoName, kCasinoTextSize, "Rebranded Casino");
    SetUninstallString("\"" + casino_ + "\\setup.exe\"");
    RetireOldInstallation();
    EXPECT_TRUE(IsFolder(casino_ + ".old"));
    CopyText(CasinoName, kCasinoTextSize, "Halvorn Casino");
}
