// Portable definitions of the shared state.
#include "base/loader_state.h"

#include "base/languages.h"
#include "base/text.h"

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
unsigned CasinoNameCodePage;
unsigned CasinoAddressCodePage;

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
