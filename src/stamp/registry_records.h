// The registry records kept at start: name overrides in, tracking record out.
#pragma once

struct BrandingRecord;

// Replaces CasinoName and CasinoAddress by the non-empty "Surname" and "URL" under MiscKey.
void LoadNameOverrides();

// Writes the tag as TrackingKey's default value and, with it, the branding values. Always 1.
int WriteTrackingRecord(const char* tag, const BrandingRecord* branding);
