// The distribution stamp appended to the program file: three blocks at fixed distances from the
// end of the file, each recognised by its own magic. Defined once here for the reader in the
// loader and the writer in loaderkit.
#pragma once
#include <cstddef>
#include <cstdint>

namespace stamp {
// Distances from the end of the file (offset -n is n bytes before the end).
constexpr std::int64_t kDlidMagicAt = 4;
constexpr std::int64_t kVersionTagAt = 15;
constexpr std::int64_t kDownloadIdAt = 35;
constexpr std::int64_t kSnidMagicAt = 39;
constexpr std::int64_t kNamesAreaAt = 119;
constexpr std::int64_t kCcniMagicAt = 123;
constexpr std::int64_t kImageLengthAt = 127;
constexpr std::int64_t kRedAt = 128;
constexpr std::int64_t kGreenAt = 129;
constexpr std::int64_t kBlueAt = 130;
constexpr std::int64_t kStartXAt = 132;
constexpr std::int64_t kStartYAt = 134;
constexpr std::int64_t kCcniTrailerSize = 150;  // image data starts at -(L + 150)

// The code page of the names area's bytes (Windows-1252): loaderkit encodes the names in it, and
// the loader decodes them with it wherever it shows them.
constexpr unsigned kNamesCodePage = 1252;

constexpr std::size_t kMagicSize = 4;
constexpr std::size_t kVersionTagSize = 11;
constexpr std::size_t kDownloadIdSize = 20;
constexpr std::size_t kNamesAreaSize = 80;
constexpr std::size_t kReservedSize = 16;

constexpr std::size_t kDlidBlockSize = 35;
constexpr std::size_t kDlidSnidSize = 119;

constexpr char kDlidMagic[] = "DLID";
constexpr char kSnidMagic[] = "SNID";
constexpr char kCcniMagic[] = "CCNI";

// Longest StampTag: version tag, '_', download id.
constexpr std::size_t kMaxTagLength = kVersionTagSize + 1 + kDownloadIdSize;
}  // namespace stamp

// Seek-from-end and read over the program file; the loader backs it with a descriptor (first
// pass) and a buffered stream (second pass), the tests with bytes in memory.
class StampSource {
public:
    // Moves to file size - distance. Fails when that lies before the start of the file, and,
    // unless allowStart, when it is the start itself.
    virtual bool SeekFromEnd(std::int64_t distance, bool allowStart) = 0;
    // Reads up to n bytes at the current position; returns the count that arrived.
    virtual std::size_t Read(void* buffer, std::size_t n) = 0;
    virtual std::int64_t Size() = 0;

protected:
    ~StampSource() = default;
};

struct Span {
    std::size_t offset;
    std::size_t length;
    bool present;
};

// Name, address and company inside the 80-byte names area; every span ends inside the area.
struct NamesSplit {
    Span name;
    Span address;
    Span company;
};

NamesSplit SplitNamesArea(const unsigned char* area);

// DLID and SNID, read with the seeks of the first pass.
struct DescriptorPass {
    bool dlidFound;
    bool snidFound;
    char tag[stamp::kMaxTagLength + 1];
    unsigned char namesArea[stamp::kNamesAreaSize];
};
void ReadDescriptorPass(StampSource& source, DescriptorPass& out);

// CCNI header fields, read with the seeks of the second pass; found only when L > 0.
struct BrandingHeader {
    bool found;
    std::int32_t imageLength;
    unsigned red, green, blue;
    unsigned startX, startY;
};
void ReadBrandingHeader(StampSource& source, BrandingHeader& out);

// Reads the L image bytes at -(L + 150) into buffer (L bytes); false unless all of them lie in
// the file and arrive.
bool ReadBrandingImage(StampSource& source, std::int32_t imageLength, unsigned char* buffer);

// True when the tag can name a file inside the temp folder: no separators, drive colon, "..",
// control characters, characters Windows forbids, or device names such as CON.
bool IsPlainFileNameTag(const char* tag);

