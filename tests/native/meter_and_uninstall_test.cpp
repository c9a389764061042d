// Meter arithmetic and the cut of the uninstaller's command line.
#include "ui/meter_geometry.h"
#include "ui/uninstall_path.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

TEST(MeterGeometry, SegmentCountIsTwentyOneTimesTheSharePercentOnlyWithinTheTotal) {
    struct Case {
        std::int32_t received, total;
        int cx, count, percent;  // percent -1: the meter's name holds none
    } cases[] = {
        {0, 2100, 312, 0, 0},          {99, 2100, 312, 0, 4},        {100, 2100, 312, 1, 4},
        {2000, 2100, 312, 20, 95},     {2099, 2100, 312, 20, 99},    {2100, 2100, 312, 21, 100},
        {4200, 2100, 312, 21, -1},     {INT_MAX, 1, 312, 21, -1},    {INT_MAX, 2100, 312, 21, -1},
        {-5, 2100, 312, 0, -1},        {100, 0, 312, 0, -1},         {100, -3, 312, 0, -1},
        {2100, 2100, 23, 0, 100},      {2100, 2100, 24, 21, 100},    {1000000, 1, 10000, 21, -1},
        {1000000, 1, 30, 28, -1},  // segW 1: 28 can start inside
        {INT_MAX - 1, INT_MAX, 312, 20, 99},  {INT_MAX, INT_MAX, 312, 21, 100},  // no 100 before the end
        {1500000 / 100 * 42, 1500000, 312, 8, 42},  {0, 0, 312, 0, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MeterSegmentCount(c.received, c.total, c.cx), c.count) << c.received << "/" << c.total << " cx=" << c.cx;
        EXPECT_EQ(MeterPercent(c.received, c.total), c.percent) << c.received << "/" << c.total;
    }
    EXPECT_EQ(MeterSegmentWidth(312), 15);
    EXPECT_EQ(MeterSegmentWidth(23), 0);
}

TEST(UninstallPath, FolderIsCutAtTheLastBackslashOfTheWholeValue) {
    struct Case {
        const char* value;
        const char* folder;  // nullptr: nothing to move
    } cases[] = {
        {"\"C:\\Games\\Casino\\setup.exe\"", "C:\\Games\\Casino"},
        {"\"C:\\Games\\Casino\\setup.exe\" /u", "C:\\Games\\Casino"},
        {"C:\\Games\\Casino\\setup.exe", nullptr},
        {"\"C:\\Games\\Casino\\setup.exe\" /log=C:\\x.txt", "C:\\Games\\Casino\\setup.exe\" /log=C:"},
        {"\"\\setup.exe\"", nullptr},
        {"\"setup.exe\"", nullptr},
        {"\"", nullptr},
        {"x\"a\\b", "a"},
    };
    for (const Case& c : cases) {
        std::string buffer = c.value;
        char* folder = CutUninstallFolder(&buffer[0]);
        if (c.folder == nullptr) {
            EXPECT_EQ(folder, nullptr) << c.value;
        } else {
            ASSERT_NE(folder, nullptr) << c.value;
            EXPECT_STREQ(folder, c.folder);
        }
    }
}
