// Portable stamp reading: which bytes are read, in which order, and what they mean. The loader
// supplies the file access and the registry; nothing here trusts a length it has not checked.
#include "stamp/stamp_layout.h"

#include <cstring>

using namespace stamp;

namespace {
bool ReadExact(StampSource& s, std::int64_t at, void* buffer, std::size_t n, bool allowStart) {
    if (!s.SeekFromEnd(at, allowStart)) return false;
    return s.Read(buffer, n) == n;
}

bool MagicAt(StampSource& s, std::int64_t at, const char* magic, bool allowStart) {
    char field[kMagicSize] = {0, 0, 0, 0};
    if (!s.SeekFromEnd(at, allowStart)) return false;
    s.Read(field, kMagicSize);
    return std::memcmp(field, magic, kMagicSize) == 0;
}

std::size_t BoundedLength(const char* text, std::size_t cap) {
    std::size_t n = 0;
    while (n < cap && text[n] != 0) ++n;
    return n;
}
}  // namespace

NamesSplit SplitNamesArea(const unsigned char* area) {
    NamesSplit split{};
    split.name = {0, BoundedLength(reinterpret_cast<const char*>(area), kNamesAreaSize), true};
    // A separator is a NUL with a text byte after it, so the last place one can stand is the
    // byte before the area's last byte.
    constexpr std::size_t kLastSeparatorAt = kNamesAreaSize - 2;
    std::size_t i = 1;
    while (i <= kLastSeparatorAt && !(area[i] == 0 && area[i + 1] != 0)) ++i;
    if (i > kLastSeparatorAt) return split;
    std::size_t a = i + 1;
    split.address = {a, BoundedLength(reinterpret_cast<const char*>(area + a), kNamesAreaSize - a), true};
    std::size_t j = a;
    while (j <= kLastSeparatorAt && !(area[j] == 0 && area[j + 1] != 0)) ++j;
    if (j > kLastSeparatorAt) return split;
    std::size_t c = j + 1;
    split.company = {c, BoundedLength(reinterpret_cast<const char*>(area + c), kNamesAreaSize - c), true};
    return split;
}

void ReadDescriptorPass(StampSource& source, DescriptorPass& out) {
    std::memset(&out, 0, sizeof out);
    char version[kVersionTagSize + 1] = {};
    char id[kDownloadIdSize + 1] = {};
    if (MagicAt(source, kDlidMagicAt, kDlidMagic, false) &&
        ReadExact(source, kVersionTagAt, version, kVersionTagSize, false) &&
        ReadExact(source, kDownloadIdAt, id, kDownloadIdSize, false)) {
        std::size_t n = BoundedLength(version, kVersionTagSize);
        std::memcpy(out.tag, version, n);
        if (id[0] != 0) {
            out.tag[n++] = '_';
            std::size_t m = BoundedLength(id, kDownloadIdSize);
            std::memcpy(out.tag + n, id, m);
            n += m;
        }
        out.tag[n] = 0;
        out.dlidFound = true;
    }
    if (MagicAt(source, kSnidMagicAt, kSnidMagic, false) &&
        ReadExact(source, kNamesAreaAt, out.namesArea, kNamesAreaSize, false)) {
        out.snidFound = true;
    }
}

void ReadBrandingHeader(StampSource& source, BrandingHeader& out) {
    std::memset(&out, 0, sizeof out);
    if (!MagicAt(source, kCcniMagicAt, kCcniMagic, true)) return;
    unsigned char length[4] = {};
    if (!source.SeekFromEnd(kImageLengthAt, true)) return;
    source.Read(length, sizeof length);
    std::uint32_t bits = static_cast<std::uint32_t>(length[0]) | static_cast<std::uint32_t>(length[1]) << 8 |
                         static_cast<std::uint32_t>(length[2]) << 16 | static_cast<std::uint32_t>(length[3]) << 24;
    std::int32_t l = static_cast<std::int32_t>(bits);
    if (l <= 0) return;
    unsigned char b[3] = {};
    if (source.SeekFromEnd(kBlueAt, true)) source.Read(b, 3);  // blue, green, red in file order
    unsigned char xy[4] = {};
    if (source.SeekFromEnd(kStartYAt, true)) source.Read(xy, 4);  // start y, then start x
    out.found = true;
    out.imageLength = l;
    out.blue = b[0];
    out.green = b[1];
    out.red = b[2];
    out.startY = static_cast<unsigned>(xy[0] | xy[1] << 8);
    out.startX = static_cast<unsigned>(xy[2] | xy[3] << 8);
}

bool ReadBrandingImage(StampSource& source, std::int32_t imageLength, unsigned char* buffer) {
    if (imageLength <= 0) return false;
    std::int64_t distance = static_cast<std::int64_t>(imageLength) + kCcniTrailerSize;
    if (distance > source.Size()) return false;
    return ReadExact(source, distance, buffer, static_cast<std::size_t>(imageLength), true);
}

bool IsPlainFileNameTag(const char* tag) {
    if (std::strstr(tag, "..") != nullptr) return false;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(tag); *p != 0; ++p) {
        if (*p < 32 || std::strchr("<>:\"/\\|?*", *p) != nullptr) return false;
    }
    // "CON.img" and its kin name devices, not files, whatever the folder; Windows drops the
    // spaces before the extension ("CON .img"), and counts the superscript digits of its
    // Western code page (0xB9, 0xB2, 0xB3) as COM and LPT numbers too.
    std::size_t stem = 0;
    while (tag[stem] != 0 && tag[stem] != '.') ++stem;
    while (stem > 0 && tag[stem - 1] == ' ') --stem;
    if (stem != 3 && stem != 4) return true;
    unsigned char digit = static_cast<unsigned char>(tag[3]);
    if (stem == 4 && !((digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3)) return true;
    char name[3];
    for (std::size_t k = 0; k < 3; ++k) name[k] = static_cast<char>(tag[k] >= 'a' && tag[k] <= 'z' ? tag[k] - 32 : tag[k]);
    for (const char* device = stem == 3 ? "CONPRNAUXNUL" : "COMLPT"; *device != 0; device += 3) {
        if (std::memcmp(device, name, 3) == 0) return false;
    }
    return true;
}
