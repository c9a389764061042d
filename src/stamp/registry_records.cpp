// Registry records. The tracking key's path is unscrambled into a fresh copy for each use so
// the plain path never sits in the program file.
#include "stamp/registry_records.h"

#include "base/loader_state.h"
#include "base/product_name.h"
#include "base/text.h"
#include "net/builtin_config.h"
#include "net/scrambler.h"
#include "stamp/reg_key.h"
#include "stamp/stamp_reader.h"

#include <cstdlib>
#include <cstring>

const char MiscKey[] = "SOFTWARE\\" LOADER_PRODUCT_NAME "\\" LOADER_PRODUCT_NAME "\\Misc";
const char kSurnameValue[] = "Surname";
const char kUrlValue[] = "URL";
const char kCompanyValue[] = "CompanyName";

void StoreMiscValue(const char* text, const char* name) {
    RegKey key;
    if (key.Create(HKEY_LOCAL_MACHINE, MiscKey)) key.SetString(text, name);
    key.Close();
}

void LoadNameOverrides() {
    RegKey key;
    if (!key.Open(HKEY_LOCAL_MACHINE, MiscKey)) return;
    char name[kCasinoTextSize];
    char address[kCasinoTextSize];
    std::memset(name, 0, sizeof name);
    std::memset(address, 0, sizeof address);
    if (key.QueryString(name, sizeof name, kSurnameValue) && name[0] != 0) CopyText(CasinoName, kCasinoTextSize, name);
    if (key.QueryString(address, sizeof address, kUrlValue) && address[0] != 0)
        CopyText(CasinoAddress, kCasinoTextSize, address);
    key.Close();
}

namespace {
void WriteRecord(const char* path, const char* tag, const BrandingRecord* branding) {
    RegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, path)) {
        // The first copy's tag stays: a plain "V101" or no tag never replaces an existing record.
        bool keepExisting = tag == nullptr || tag[0] == 0 || std::strcmp(tag, "V101") == 0;
        key.Close();
        if (keepExisting) return;
    }
    if (!key.Create(HKEY_LOCAL_MACHINE, path)) return;
    key.SetString(tag != nullptr ? tag : "", "");
    if (branding->BMPPath[0] != 0) {
        key.SetString(branding->BMPPath, "BMPPath");
        key.SetString(branding->TColorR, "TColorR");
        key.SetString(branding->TColorG, "TColorG");
        key.SetString(branding->TColorB, "TColorB");
        key.SetString(branding->StartX, "StartX");
        key.SetString(branding->StartY, "StartY");
    }
    key.Close();
}
}  // namespace

int WriteTrackingRecord(const char* tag, const BrandingRecord* branding) {
    char* path = UnscrambledCopy(TrackingKeyPath);
    if (path == nullptr) return 1;
    WriteRecord(path, tag, branding);
    std::free(path);
    return 1;
}
