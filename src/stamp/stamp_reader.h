// Reads the distribution stamp from the program's own file.
#pragma once

struct BrandingRecord {
    char BMPPath[128];
    char TColorR[4];
    char TColorG[4];
    char TColorB[4];
    char StartX[20];
    char StartY[20];
};
static_assert(sizeof(BrandingRecord) == 180, "six fixed-width fields");

constexpr int kStampTagBufferSize = 260;

// tag: the caller's 260-byte buffer; branding: zero-filled by the caller. Returns 1 when the
// DLID block was read. Stores the SNID names in the globals and under MiscKey, and the image
// under the Windows temp folder. In a report build a null branding reads the tag alone and
// stores nothing.
int ReadDistributionStamp(char* tag, BrandingRecord* branding);

// The same, reading the stamp of fileName instead of the running program's own file.
int ReadDistributionStampFrom(const wchar_t* fileName, char* tag, BrandingRecord* branding);

