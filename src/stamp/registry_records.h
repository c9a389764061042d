// The registry records kept at start: the casino's names under MiscKey (written from the stamp,
// read back as overrides) and the tracking record.
#pragma once

struct BrandingRecord;

extern const char MiscKey[];
// The value names of the casino's name, address and company under MiscKey.
extern const char kSurnameValue[];
extern const char kUrlValue[];
extern const char kCompanyValue[];

// Stores text as value `name` under MiscKey, creating the key where it is missing.
void StoreMiscValue(const char* text, const char* name);

// Replaces CasinoName and CasinoAddress by the non-empty "Surname" and "URL" under MiscKey.
void LoadNameOverrides();

// Writes the tag as TrackingKey's default value and, with it, the branding values. Always 1.
int WriteTrackingRecord(const char* tag, const BrandingRecord* branding);
