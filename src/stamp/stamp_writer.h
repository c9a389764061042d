// Builds a distribution stamp byte for byte as the loader's reader expects it. Used by loaderkit
// and the tests; the loader itself never writes stamps.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "stamp/stamp_layout.h"

struct StampFields {
    std::string versionTag;  // at most 11 bytes
    std::string downloadId;  // at most 20 bytes
    bool hasNames = false;
    std::string name, address, company;
    bool hasBranding = false;
    std::vector<unsigned char> image;  // at least one byte when hasBranding
    unsigned red = 0, green = 0, blue = 0;
    unsigned startX = 0, startY = 0;
};

// Appends the stamp's bytes to out. Returns an empty text on success, else why it cannot be built.
std::string BuildStamp(const StampFields& fields, std::vector<unsigned char>& out);
