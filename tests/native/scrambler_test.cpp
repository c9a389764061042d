// The substitution table and the in-place walk; the installer digest.
#include "net/scrambler.h"
#include "net/sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
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

// The held installer's digest: the published test vectors of FIPS 180-4, each added whole and
// in uneven pieces that straddle the 64-byte blocks, and the padding's two cases (55 and 56
// bytes in the last block).
TEST(Sha256, PublishedVectorsWholeAndInPieces) {
    auto hex = [](const std::string& data, std::size_t piece) {
        Sha256 s;
        Sha256Begin(s);
        for (std::size_t at = 0; at < data.size(); at += piece)
            Sha256Add(s, data.data() + at, std::min(piece, data.size() - at));
        unsigned char digest[kSha256Size];
        Sha256End(s, digest);
        char out[2 * kSha256Size + 1];
        for (std::size_t i = 0; i < kSha256Size; ++i) std::snprintf(out + 2 * i, 3, "%02x", digest[i]);
        return std::string(out);
    };
    const struct {
        std::string data;
        const char* digest;
    } vectors[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrs"
         "mnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
    };
    for (const auto& v : vectors) {
        for (std::size_t piece : {std::size_t(1) << 30, std::size_t(1), std::size_t(63), std::size_t(100)}) {
            if (piece == 1 && v.data.size() > 1000) continue;
            EXPECT_EQ(hex(v.data, piece), v.digest) << v.data.size() << " bytes in pieces of " << piece;
        }
    }
}
