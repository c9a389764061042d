// The substitution table and the in-place walk.
#include "net/scrambler.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

TEST(Scrambler, TableMapsZeroToZeroAndPermutesTheRest) {
    EXPECT_EQ(SubstitutionTable[0], 0);
    std::set<int> seen;
    for (int b = 1; b < 256; ++b) {
        EXPECT_NE(SubstitutionTable[b], 0) << "byte " << b << " would end a text early";
        seen.insert(SubstitutionTable[b]);
    }
    EXPECT_EQ(seen.size(), 255u);
}

TEST(Scrambler, WalkReplacesExactlyTheBytesBeforeTheTerminator) {
    char empty[1] = {0};
    EXPECT_EQ(UnscrambleInPlace(empty), empty);
    std::string plain = "iFlag=0|sUrl=http://x.example/|\xff\x01 end";
    std::string coded = plain;
    ScrambleBytes(&coded[0], coded.size());
    EXPECT_NE(coded, plain);
    char buffer[64];
    std::memset(buffer, 'Q', sizeof buffer);
    std::memcpy(buffer, coded.c_str(), coded.size() + 1);
    char* end = UnscrambleInPlace(buffer);
    EXPECT_EQ(end, buffer + plain.size());
    EXPECT_EQ(std::string(buffer), plain);
    EXPECT_EQ(buffer[plain.size() + 1], 'Q') << "nothing after the terminator is touched";
    // A second pass applies the table again; nothing detects it.
    UnscrambleInPlace(buffer);
    EXPECT_NE(std::string(buffer), plain);
    EXPECT_EQ(std::strlen(buffer), plain.size());
}

TEST(Scrambler, UnscrambledCopyLeavesTheStoredConstantAlone) {
    std::string plain = "SOFTWARE\\Halvorn\\DlTracker";
    std::string stored = plain;
    ScrambleBytes(&stored[0], stored.size());
    const std::string before = stored;
    char* copy = UnscrambledCopy(stored.c_str());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(std::string(copy), plain);
    EXPECT_EQ(stored, before);
    std::free(copy);
}
