// Portable view of a stamp through the same layout checks the loader's reader runs.
#include "stamp/stamp_view.h"

#include <cstring>

using namespace stamp;

MemorySource::MemorySource(const std::vector<unsigned char>& bytes) : bytes_(bytes) {}

bool MemorySource::SeekFromEnd(std::int64_t distance, bool allowStart) {
    std::int64_t at = static_cast<std::int64_t>(bytes_.size()) - distance;
    if (distance < 0 || at < 0 || (at == 0 && !allowStart)) return false;
    pos_ = static_cast<std::size_t>(at);
    return true;
}

std::size_t MemorySource::Read(void* buffer, std::size_t n) {
    std::size_t left = bytes_.size() - pos_;
    std::size_t take = n < left ? n : left;
    if (take > 0) std::memcpy(buffer, bytes_.data() + pos_, take);
    pos_ += take;
    return take;
}

std::int64_t MemorySource::Size() { return static_cast<std::int64_t>(bytes_.size()); }

StampView ViewStamp(const std::vector<unsigned char>& file) {
    MemorySource source(file);
    return ViewStamp(source);
}

StampView ViewStamp(StampSource& source) {
    StampView v;
    DescriptorPass pass;
    ReadDescriptorPass(source, pass);
    v.dlid = pass.dlidFound;
    if (v.dlid) {
        v.tag = pass.tag;
        char fields[kDownloadIdSize + kVersionTagSize] = {};
        if (source.SeekFromEnd(kDownloadIdAt, true)) source.Read(fields, sizeof fields);
        v.downloadId.assign(fields, strnlen(fields, kDownloadIdSize));
        v.versionTag.assign(fields + kDownloadIdSize, strnlen(fields + kDownloadIdSize, kVersionTagSize));
        v.stampSize = kDlidBlockSize;
    }
    if (pass.snidFound) {
        v.snid = true;
        NamesSplit split = SplitNamesArea(pass.namesArea);
        const char* a = reinterpret_cast<const char*>(pass.namesArea);
        v.name.assign(a + split.name.offset, split.name.length);
        if (split.address.present) v.address.assign(a + split.address.offset, split.address.length);
        if (split.company.present) v.company.assign(a + split.company.offset, split.company.length);
        v.stampSize = kDlidSnidSize;
    }
    BrandingHeader header;
    ReadBrandingHeader(source, header);
    if (header.found) {
        std::vector<unsigned char> image;
        if (static_cast<std::int64_t>(header.imageLength) + kCcniTrailerSize <= source.Size()) {
            image.resize(static_cast<std::size_t>(header.imageLength));
            if (ReadBrandingImage(source, header.imageLength, image.data())) {
                v.ccni = true;
                v.image = std::move(image);
                v.stampSize = static_cast<std::size_t>(header.imageLength) + kCcniTrailerSize;
            }
        }
        v.imageLength = header.imageLength;
        v.red = header.red;
        v.green = header.green;
        v.blue = header.blue;
        v.startX = header.startX;
        v.startY = header.startY;
    }
    return v;
}
