// Meter arithmetic and the cut of the uninstaller's command line.
#include "ui/meter_geometry.h"
#include "ui/uninstall_path.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

TEST(MeterGeometry, SegmentCountIsTwentyOneTimesTheShareBounded) {
    struct Case {
        std::int32_t received, total;
        int cx, count;
    } cases[] = {
        {0, 2100, 312, 0},       {99, 2100, 312, 0},     {100, 2100, 312, 1},
        {2000, 2100, 312, 20},   {2099, 2100, 312, 20},  {2100, 2100, 312, 21},
        {4200, 2100, 312, 21},   {INT_MAX, 1, 312, 21},  {INT_MAX, 2100, 312, 21},
        {-5, 2100, 312, 0},      {100, 0, 312, 0},       {100, -3, 312, 0},
        {2100, 2100, 23, 0},     {2100, 2100, 24, 21},   {1000000, 1, 10000, 21},  {1000000, 1, 30, 28},  // segW 1: 28 can start inside
    };
    for (const Case& c : cases)
        EXPECT_EQ(MeterSegmentCount(c.received, c.total, c.cx), c.count) << c.received << "/" << c.total << " cx=" << c.cx;
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
