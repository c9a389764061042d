// The program's shared state: fixed buffers and counts that several subsystems read or write.
// Plain globals by design (one UI thread, one worker); each buffer size is a named constant so
// every copy into them can be bounded.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "base/product_name.h"

// The most of a page (a configuration reply or a notice page) that the loader reads, in one
// read; loaderkit refuses to build a page that is longer.
constexpr std::size_t kPageSize = 22000;
constexpr std::size_t kWorkBufferSize = kPageSize;
// One byte beyond the page a single read may deliver, so the terminator always fits.
constexpr std::size_t kReplyBufferSize = kPageSize + 1;
constexpr std::size_t kReplyReadSize = kPageSize;
constexpr std::size_t kUrlBufferSize = 2048;
constexpr std::size_t kSiteOverrideSize = 256;
constexpr std::size_t kCasinoTextSize = 80;

extern const char kProductName[];        // LOADER_PRODUCT_NAME
extern const char kDefaultCasinoAddress[];

extern char* WorkBuffer;   // kWorkBufferSize bytes once discovery has run
extern char* ReplyBuffer;  // kReplyBufferSize bytes once discovery has run
extern char InstallerUrl[kUrlBufferSize];
extern char InstallerFileName[kUrlBufferSize];
extern char SiteOverrideUrl[kSiteOverrideSize];
extern char CasinoName[kCasinoTextSize];
extern char CasinoAddress[kCasinoTextSize];
extern char CasinoCompany[kCasinoTextSize];
// The code pages of CasinoName's and CasinoAddress's bytes, for showing them: 0, the system's
// ANSI code page, for the built-in names and the registry's overrides (the ANSI registry call
// converted those into it); the stamp's own code page for names read from the stamp.
extern unsigned CasinoNameCodePage;
extern unsigned CasinoAddressCodePage;

extern const char* LanguageCode;
extern int SelectedLanguageIndex;

// Written by the download worker, read by the meter on the UI thread.
extern std::atomic<std::int32_t> ReceivedBytes;
// The size line's value: set on the UI thread before the worker starts, only read afterwards.
extern std::int32_t TotalBytes;

// The start values: the built-in casino name and address, English, no language chosen.
// Called once by the entry point, right after the library search is narrowed.
void ResetLoaderState();

