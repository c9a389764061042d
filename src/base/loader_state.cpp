// Portable definitions of the shared state and the two bounded text helpers everyone uses.
#include "base/loader_state.h"

#include "base/languages.h"

#include <cstring>

const char kProductName[] = LOADER_PRODUCT_NAME;
const char kDefaultCasinoAddress[] = "www.halvorn.example";

char* WorkBuffer = nullptr;
char* ReplyBuffer = nullptr;
char InstallerUrl[kUrlBufferSize];
char InstallerFileName[kUrlBufferSize];
char SiteOverrideUrl[kSiteOverrideSize];
char CasinoName[kCasinoTextSize];
char CasinoAddress[kCasinoTextSize];
char CasinoCompany[kCasinoTextSize];

const char* LanguageCode;
int SelectedLanguageIndex;

std::atomic<std::int32_t> ReceivedBytes{0};
std::int32_t TotalBytes = 0;

// Set in code rather than by initialisers: the state then takes no room in the program file.
void ResetLoaderState() {
    CopyText(CasinoName, kCasinoTextSize, kProductName);
    CopyText(CasinoAddress, kCasinoTextSize, kDefaultCasinoAddress);
    CasinoCompany[0] = 0;
    LanguageCode = Languages[kEnglishIndex].code;
    SelectedLanguageIndex = -1;
}

std::size_t CopyText(char* dst, std::size_t cap, const char* src) {
    std::size_t n = 0;
    while (n + 1 < cap && src[n] != 0) {
        dst[n] = src[n];
        ++n;
    }
    dst[n] = 0;
    return n;
}

bool AppendText(char* dst, std::size_t cap, const char* src) {
    std::size_t have = std::strlen(dst);
    std::size_t add = std::strlen(src);
    if (have + add + 1 > cap) return false;
    std::memcpy(dst + have, src, add + 1);
    return true;
}
