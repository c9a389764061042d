// Portable stamp writer.
#include "stamp/stamp_writer.h"

#include "stamp/stamp_layout.h"

#include <cstring>

using namespace stamp;

namespace {
void PutLe(std::vector<unsigned char>& out, std::uint32_t value, int bytes) {
    for (int k = 0; k < bytes; ++k) out.push_back(static_cast<unsigned char>(value >> (8 * k)));
}

void PutField(std::vector<unsigned char>& out, const std::string& text, std::size_t width) {
    for (std::size_t k = 0; k < width; ++k) out.push_back(k < text.size() ? static_cast<unsigned char>(text[k]) : 0);
}

bool HasNul(const std::string& s) { return s.find('\0') != std::string::npos; }
}  // namespace

std::string BuildStamp(const StampFields& f, std::vector<unsigned char>& out) {
    if (f.versionTag.size() > kVersionTagSize) return "version tag is longer than 11 bytes";
    if (f.downloadId.size() > kDownloadIdSize) return "download id is longer than 20 bytes";
    if (HasNul(f.versionTag) || HasNul(f.downloadId)) return "tag and id cannot contain NUL bytes";
    std::vector<unsigned char> area;
    if (f.hasNames) {
        if (HasNul(f.name) || HasNul(f.address) || HasNul(f.company)) return "names cannot contain NUL bytes";
        if (f.address.empty() && !f.company.empty())
            return "a company name needs an address before it";
        // An address can never start at byte 1 of the area, so an empty name takes two NULs.
        area.insert(area.end(), f.name.begin(), f.name.end());
        area.push_back(0);
        if (f.name.empty()) area.push_back(0);
        area.insert(area.end(), f.address.begin(), f.address.end());
        if (!f.company.empty()) {
            area.push_back(0);
            area.insert(area.end(), f.company.begin(), f.company.end());
        }
        if (area.size() > kNamesAreaSize)
            return "name, address and company with their separators exceed the 80-byte names area";
        area.resize(kNamesAreaSize, 0);
    }
    if (f.hasBranding) {
        if (f.image.empty()) return "the branding image is empty";
        if (f.image.size() > 0x7FFFFFFFu - kCcniTrailerSize) return "the branding image is too large";
        if (f.red > 255 || f.green > 255 || f.blue > 255) return "colour components are 0 to 255";
        if (f.startX > 65535 || f.startY > 65535) return "start positions are 0 to 65535";
    }
    if (f.hasBranding) {
        out.insert(out.end(), f.image.begin(), f.image.end());
        out.insert(out.end(), kReservedSize, 0);
        PutLe(out, f.startY, 2);
        PutLe(out, f.startX, 2);
        out.push_back(static_cast<unsigned char>(f.blue));
        out.push_back(static_cast<unsigned char>(f.green));
        out.push_back(static_cast<unsigned char>(f.red));
        PutLe(out, static_cast<std::uint32_t>(f.image.size()), 4);
        out.insert(out.end(), kCcniMagic, kCcniMagic + kMagicSize);
    }
    if (f.hasNames) {
        out.insert(out.end(), area.begin(), area.end());
        out.insert(out.end(), kSnidMagic, kSnidMagic + kMagicSize);
    } else if (f.hasBranding) {
        out.insert(out.end(), kNamesAreaSize + kMagicSize, 0);
    }
    PutField(out, f.downloadId, kDownloadIdSize);
    PutField(out, f.versionTag, kVersionTagSize);
    out.insert(out.end(), kDlidMagic, kDlidMagic + kMagicSize);
    return "";
}
