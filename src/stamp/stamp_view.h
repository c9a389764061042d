// What a stamp at the end of a file holds, read the way the loader reads it but without the
// registry or any file: for loaderkit and the tests.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "stamp/stamp_layout.h"

// Reads the stamp at the end of file bytes the way the loader does (without registry or files).
struct StampView {
    bool dlid = false, snid = false, ccni = false;
    std::string tag, versionTag, downloadId, name, address, company;
    std::int32_t imageLength = 0;
    unsigned red = 0, green = 0, blue = 0, startX = 0, startY = 0;
    std::vector<unsigned char> image;
    std::size_t stampSize = 0;  // bytes the recognised blocks occupy at the end
};
StampView ViewStamp(const std::vector<unsigned char>& file);
// The same over any source: a file that is only partly read, such as the kit's --show.
StampView ViewStamp(StampSource& source);

// A stamp source over bytes in memory.
class MemorySource final : public StampSource {
public:
    explicit MemorySource(const std::vector<unsigned char>& bytes);
    bool SeekFromEnd(std::int64_t distance, bool allowStart) override;
    std::size_t Read(void* buffer, std::size_t n) override;
    std::int64_t Size() override;

private:
    const std::vector<unsigned char>& bytes_;
    std::size_t pos_ = 0;
};
