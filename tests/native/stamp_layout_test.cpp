// The stamp layout read from byte arrays built here, and the writer agreeing with the reader.
#include "base/text.h"
#include "stamp/signed_program.h"
#include "stamp/stamp_layout.h"
#include "stamp/stamp_view.h"
#include "stamp/stamp_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {
using Bytes = std::vector<unsigned char>;

void Put(Bytes& b, std::size_t fromEnd, const std::string& s) {
    std::memcpy(b.data() + b.size() - fromEnd, s.data(), s.size());
}

// 'P' program bytes followed by nothing: every stamp field placed by its distance from the end.
Bytes Program(std::size_t size) { return Bytes(size, 'P'); }

Bytes BareDlid(const std::string& version, const std::string& id) {
    Bytes b = Program(400);
    std::memset(b.data() + b.size() - 35, 0, 35);
    Put(b, 4, "DLID");
    Put(b, 15, version);
    Put(b, 35, id);
    return b;
}

Bytes WithNames(const std::string& area80) {
    Bytes b = BareDlid("V101", "");
    Put(b, 39, "SNID");
    Put(b, 119, area80);
    return b;
}

std::string Area(const std::string& s) {
    std::string a = s;
    a.resize(80, '\0');
    return a;
}
}  // namespace

TEST(StampLayout, DownloadTagComesFromTheDlidBlock) {
    struct Case {
        std::string version, id, tag;
    } cases[] = {
        {"V101", "", "V101"},
        {"V101", "12345", "V101_12345"},
        {"ABCDEFGHIJK", "", "ABCDEFGHIJK"},
        {"ABCDEFGHIJK", "01234567890123456789", "ABCDEFGHIJK_01234567890123456789"},
        {"", "77", "_77"},
    };
    for (const Case& c : cases) {
        StampView v = ViewStamp(BareDlid(c.version, c.id));
        EXPECT_TRUE(v.dlid) << c.tag;
        EXPECT_EQ(v.tag, c.tag);
        EXPECT_FALSE(v.snid) << "bytes at -39 are not SNID";
        EXPECT_FALSE(v.ccni) << "bytes at -123 are not CCNI";
    }
}

TEST(StampLayout, PartialMagicsAndShortFilesRejectTheirBlock) {
    Bytes b = BareDlid("V101", "");
    b[b.size() - 1] = 'X';
    EXPECT_FALSE(ViewStamp(b).dlid) << "DLIX";
    EXPECT_FALSE(ViewStamp(Bytes{'D', 'L', 'I', 'D'}).dlid) << "a file of the magic alone";
    Bytes exact(35, 0);
    std::memcpy(exact.data() + 31, "DLID", 4);
    EXPECT_FALSE(ViewStamp(exact).dlid) << "the id would be read from position 0, which counts as failed";
    Bytes names = WithNames(Area("A"));
    names[names.size() - 36] = 'X';
    EXPECT_FALSE(ViewStamp(names).snid) << "SNIX";
    StampFields f;
    f.versionTag = "T";
    f.hasBranding = true;
    f.image = {1, 2, 3};
    Bytes branded = Program(10);
    ASSERT_EQ(BuildStamp(f, branded), "");
    branded[branded.size() - 120] = 'X';
    EXPECT_FALSE(ViewStamp(branded).ccni) << "CCNX";
}

TEST(StampLayout, NamesAreaSplitsIntoNameAddressAndCompany) {
    struct Case {
        std::string area;
        std::string name, address, company;
        bool hasAddress, hasCompany;
    } cases[] = {
        {Area(std::string("Alpha\0\0\0Beta\0Gamma", 19)), "Alpha", "Beta", "Gamma", true, true},
        {Area("Alpha"), "Alpha", "", "", false, false},
        {Area(std::string("\0Beta\0Gamma", 11)), "", "Gamma", "", true, false},
        {Area(std::string("N\0A\0", 4) + std::string(76, 'C')), "N", "A", std::string(76, 'C'), true, true},
        {std::string(80, 'x'), std::string(80, 'x'), "", "", false, false},
        {std::string("N\0", 2) + std::string(78, 'a'), "N", std::string(78, 'a'), "", true, false},
        {Area(std::string(78, 'n')) .replace(78, 2, std::string("\0z", 2)), std::string(78, 'n'), "z", "", true, false},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(c.area.size(), 80u);
        NamesSplit split = SplitNamesArea(reinterpret_cast<const unsigned char*>(c.area.data()));
        auto text = [&](const Span& s) { return c.area.substr(s.offset, s.length); };
        EXPECT_EQ(text(split.name), c.name);
        EXPECT_EQ(split.address.present, c.hasAddress) << c.name;
        EXPECT_EQ(split.company.present, c.hasCompany) << c.name;
        if (c.hasAddress) {
            EXPECT_EQ(text(split.address), c.address);
        }
        if (c.hasCompany) {
            EXPECT_EQ(text(split.company), c.company);
        }
        EXPECT_LE(split.name.offset + split.name.length, 80u);
        EXPECT_LE(split.address.offset + split.address.length, 80u);
        EXPECT_LE(split.company.offset + split.company.length, 80u);
    }
}

TEST(StampLayout, ImageLengthsThatDoNotFitTheFileGiveNoImage) {
    for (std::int32_t length : {0, -1, -2147483647 - 1, 2147483647, 2147483647 - 100, 5000}) {
        Bytes b = Program(300);
        StampFields f;
        f.versionTag = "V";
        f.hasBranding = true;
        f.image = {9, 9, 9};
        ASSERT_EQ(BuildStamp(f, b), "");
        std::uint32_t bits = static_cast<std::uint32_t>(length);
        for (int k = 0; k < 4; ++k) b[b.size() - 127 + k] = static_cast<unsigned char>(bits >> (8 * k));
        StampView v = ViewStamp(b);
        EXPECT_TRUE(v.dlid);
        EXPECT_FALSE(v.ccni) << length;
    }
}

TEST(StampLayout, WriterAndReaderAgreeByteForByte) {
    StampFields f;
    f.versionTag = "V101";
    f.downloadId = "998877";
    f.hasNames = true;
    f.name = "Casino Nord";
    f.address = "www.nord.example";
    f.company = "Nord Gaming Ltd";
    f.hasBranding = true;
    for (int i = 0; i < 1000; ++i) f.image.push_back(static_cast<unsigned char>(i * 7));
    f.red = 200;
    f.green = 100;
    f.blue = 50;
    f.startX = 640;
    f.startY = 65535;
    Bytes file = Program(123);
    ASSERT_EQ(BuildStamp(f, file), "");
    ASSERT_EQ(file.size(), 123u + 1000u + 150u);
    const unsigned char* end = file.data() + file.size();
    EXPECT_EQ(std::memcmp(end - 4, "DLID", 4), 0);
    EXPECT_EQ(std::memcmp(end - 15, "V101\0\0\0\0\0\0\0", 11), 0);
    EXPECT_EQ(std::memcmp(end - 35, "998877", 7), 0);
    EXPECT_EQ(std::memcmp(end - 39, "SNID", 4), 0);
    EXPECT_EQ(std::memcmp(end - 123, "CCNI", 4), 0);
    EXPECT_EQ(end[-127] | end[-126] << 8, 1000);
    EXPECT_EQ(end[-128], 200);
    EXPECT_EQ(end[-129], 100);
    EXPECT_EQ(end[-130], 50);
    EXPECT_EQ(end[-132] | end[-131] << 8, 640);
    EXPECT_EQ(end[-134] | end[-133] << 8, 65535);
    EXPECT_EQ(std::memcmp(end - 1150, f.image.data(), 1000), 0);

    StampView v = ViewStamp(file);
    EXPECT_TRUE(v.dlid && v.snid && v.ccni);
    EXPECT_EQ(v.tag, "V101_998877");
    EXPECT_EQ(v.name, f.name);
    EXPECT_EQ(v.address, f.address);
    EXPECT_EQ(v.company, f.company);
    EXPECT_EQ(v.image, f.image);
    EXPECT_EQ(v.red, 200u);
    EXPECT_EQ(v.startY, 65535u);
    EXPECT_EQ(v.stampSize, 1150u);
}

namespace {
std::uint32_t Le32(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

void SetLe32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) b[at + k] = static_cast<unsigned char>(v >> (8 * k));
}

// A PE32 program whose certificate table ends the file: one entry holding a 300-byte DER
// SEQUENCE that its signer padded to 8 bytes.
constexpr std::size_t kPeAt = 0x40, kChecksumAt = kPeAt + 24 + 64, kDirectoryAt = kPeAt + 24 + 96 + 32;
Bytes SignedProgram() {
    Bytes b(0x400, 'P');
    std::memcpy(b.data(), "MZ", 2);
    SetLe32(b, 0x3C, kPeAt);
    std::memcpy(b.data() + kPeAt, "PE\0\0", 4);
    b[kPeAt + 20] = 224;
    b[kPeAt + 21] = 0;
    b[kPeAt + 24] = 0x0B;
    b[kPeAt + 25] = 0x01;
    SetLe32(b, kPeAt + 24 + 92, 16);
    std::memset(b.data() + kPeAt + 24 + 96, 0, 128);
    Bytes blob = {0x30, 0x82, 0x01, 0x28};
    blob.resize(300, 0xA5);
    std::size_t entry = 8 + 304;  // 300 rounded up to 8 with the header
    SetLe32(b, kDirectoryAt, static_cast<std::uint32_t>(b.size()));
    SetLe32(b, kDirectoryAt + 4, static_cast<std::uint32_t>(entry));
    Bytes header = {0, 0, 0, 0, 0x00, 0x02, 0x02, 0x00};
    SetLe32(header, 0, static_cast<std::uint32_t>(entry));
    b.insert(b.end(), header.begin(), header.end());
    b.insert(b.end(), blob.begin(), blob.end());
    b.resize(b.size() + 4, 0);
    SetLe32(b, kChecksumAt, PeChecksum(b, kChecksumAt));
    return b;
}
}  // namespace

TEST(StampLayout, SignedProgramsCarryTheStampInsideTheirCertificateTable) {
    const Bytes original = SignedProgram();
    SignatureLayout layout;
    ASSERT_EQ(ReadSignatureLayout(original, layout), "");
    ASSERT_TRUE(layout.isSigned());
    StampFields small;
    small.versionTag = "V1";
    StampFields large = small;
    large.hasNames = true;
    large.name = "Nord";
    large.hasBranding = true;
    large.image.assign(1001, 0x42);
    Bytes first;
    for (const StampFields* f : {&small, &large, &small}) {
        Bytes stamp;
        ASSERT_EQ(BuildStamp(*f, stamp), "");
        Bytes file = original;
        if (!first.empty()) {
            file = first;
            ASSERT_EQ(RemoveStamp(file, ViewStamp(file).stampSize), "");
            EXPECT_EQ(file, original) << "removing a stamp restores the signed program exactly";
        }
        ASSERT_EQ(PlaceStamp(file, stamp), "");
        if (first.empty()) first = file;
        std::size_t table = original.size() - 8 - 304;
        std::size_t pad = file.size() - stamp.size() - (table + 8 + 300);
        EXPECT_LT(pad, 8u) << "only the padding lies between signature and stamp";
        Bytes kept(file.begin(), file.begin() + table + 8 + 300);
        for (std::size_t at : {kChecksumAt, kDirectoryAt + 4, table}) SetLe32(kept, at, Le32(original, at));
        EXPECT_EQ(kept, Bytes(original.begin(), original.begin() + table + 8 + 300)) << "all else is kept";
        EXPECT_EQ(Bytes(file.end() - stamp.size(), file.end()), stamp);
        EXPECT_EQ(Le32(file, table), file.size() - table) << "the last entry grows to the end";
        EXPECT_EQ(Le32(file, kDirectoryAt + 4), file.size() - table);
        EXPECT_EQ((file.size() - table) % 8, 0u);
        EXPECT_EQ(Le32(file, kChecksumAt), PeChecksum(file, kChecksumAt));
        ASSERT_EQ(ReadSignatureLayout(file, layout), "");
        MemorySource source(file);
        EXPECT_TRUE(StampInsideCertificateTable(source, layout, stamp.size()));
        StampView v = ViewStamp(file);
        EXPECT_EQ(v.stampSize, stamp.size());
        EXPECT_EQ(v.name, f->name);
        EXPECT_EQ(v.image, f->image);
    }
    MemorySource source(original);
    EXPECT_FALSE(StampInsideCertificateTable(source, layout, 9)) << "the signature's own bytes are no stamp";
    Bytes overlong = original;
    overlong[original.size() - 304 + 3] = 0x2D;  // the signature claims a byte beyond its entry
    Bytes stamp;
    ASSERT_EQ(BuildStamp(small, stamp), "");
    EXPECT_NE(PlaceStamp(overlong, stamp), "") << "a stamp there would be read as part of the signature";
    Bytes unsigned_(original.begin(), original.begin() + 0x400 - 4);
    SetLe32(unsigned_, kDirectoryAt, 0);
    SetLe32(unsigned_, kDirectoryAt + 4, 0);
    unsigned_.insert(unsigned_.end(), {'S', 'N', 'I', 'D'});
    EXPECT_NE(PlaceStamp(unsigned_, stamp), "") << "the program's last bytes would pass for a names block";
    Bytes tiny = {1, 2, 3, 4, 5};
    EXPECT_EQ(PeChecksum(tiny, 100), 0x0201u + 0x0403u + 0x05u + 5u);
}

TEST(StampLayout, WriterRefusesWhatTheReaderCouldNotReadBack) {
    struct Case {
        const char* what;
        StampFields f;
    };
    std::vector<Case> cases;
    StampFields f;
    f.versionTag = std::string(12, 'v');
    cases.push_back({"tag of 12", f});
    f = StampFields{};
    f.downloadId = std::string(21, '1');
    cases.push_back({"id of 21", f});
    f = StampFields{};
    f.hasNames = true;
    f.name = std::string(40, 'n');
    f.address = std::string(20, 'a');
    f.company = std::string(19, 'c');  // 40 + 1 + 20 + 1 + 19 = 81
    cases.push_back({"names over 80", f});
    f = StampFields{};
    f.hasNames = true;
    f.name = "n";
    f.company = "c";
    cases.push_back({"company without address", f});
    f = StampFields{};
    f.hasBranding = true;
    cases.push_back({"empty image", f});
    for (const Case& c : cases) {
        Bytes out;
        EXPECT_NE(BuildStamp(c.f, out), "") << c.what;
    }
    f = StampFields{};
    f.hasNames = true;
    f.name = std::string(40, 'n');
    f.address = std::string(20, 'a');
    f.company = std::string(18, 'c');  // exactly 80: the company runs to the last byte
    Bytes out = Program(5);
    ASSERT_EQ(BuildStamp(f, out), "");
    EXPECT_EQ(ViewStamp(out).company, f.company);
    f.name = "";
    out = Program(5);
    f.company = "";
    ASSERT_EQ(BuildStamp(f, out), "");
    EXPECT_EQ(ViewStamp(out).name, "");
    EXPECT_EQ(ViewStamp(out).address, f.address) << "an empty name still leaves the address readable";
}

TEST(StampLayout, ImageTagsMustStayPlainFileNames) {
    for (const char* good : {"V101", "V101_12345", "_77", "", "a.b", "CONX", "COM0", "LPT", " CON", "COM\xB4"}) EXPECT_TRUE(IsPlainFileNameTag(good)) << good;
    for (const char* bad : {"..", "..\\x", "a/b", "a\\b", "C:x", "a\x01", "a<b", "a>b", "a\"b", "a|b", "a?b",
                            "a*b", "CON", "con", "Nul.x", "COM1", "lpt9", "AUX", "PRN", "CON ", "NUL.", "AUX  .x",
                            "COM\xB9", "lpt\xB2", "COM\xB3 "})
        EXPECT_FALSE(IsPlainFileNameTag(bad)) << bad;
}

TEST(StampLayout, DecimalFormattingFitsItsFields) {
    char four[4];
    EXPECT_TRUE(FormatDecimal(255, four, sizeof four));
    EXPECT_STREQ(four, "255");
    EXPECT_TRUE(FormatDecimal(0, four, sizeof four));
    EXPECT_STREQ(four, "0");
    EXPECT_FALSE(FormatDecimal(1000, four, sizeof four));
    char twenty[20];
    EXPECT_TRUE(FormatDecimal(4294967295u, twenty, sizeof twenty));
    EXPECT_STREQ(twenty, "4294967295");
}
