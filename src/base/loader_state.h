// The program's shared state: fixed buffers and counts that several subsystems read or write.
// Plain globals by design (one UI thread, one worker); each buffer size is a named constant so
// every copy into them can be bounded.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "base/product_name.h"

constexpr std::size_t kWorkBufferSize = 22000;
// One byte beyond the 22000 bytes a single read may deliver, so the terminator always fits.
constexpr std::size_t kReplyBufferSize = 22000 + 1;
constexpr std::size_t kReplyReadSize = 22000;
constexpr std::size_t kUrlBufferSize = 2048;
constexpr std::size_t kSiteOverrideSize = 256;
constexpr std::size_t kCasinoTextSize = 80;

extern const char kProductName[];        // LOADER_PRODUCT_NAME
extern const char kDefaultCasinoAddress[];

extern char* WorkBuffer;   // 22000 bytes once discovery has run
extern char* ReplyBuffer;  // kReplyBufferSize bytes once discovery has run
extern char InstallerUrl[kUrlBufferSize];
extern char InstallerFileName[kUrlBufferSize];
extern char SiteOverrideUrl[kSiteOverrideSize];
extern char CasinoName[kCasinoTextSize];
extern char CasinoAddress[kCasinoTextSize];
extern char CasinoCompany[kCasinoTextSize];

extern const char* LanguageCode;
extern int SelectedLanguageIndex;

// Written by the download worker, read by the meter on the UI thread: one whole 32-bit value.
extern std::atomic<std::int32_t> ReceivedBytes;
extern std::int32_t TotalBytes;

// The start values: the built-in casino name and address, English, no language chosen.
// Called once before anything else runs.
void ResetLoaderState();

// Bounded copy that always terminates dst (cap > 0); returns the length copied.
std::size_t CopyText(char* dst, std::size_t cap, const char* src);
// Appends src to the text in dst if the whole of it fits with the NUL; returns false otherwise
// and leaves dst unchanged.
bool AppendText(char* dst, std::size_t cap, const char* src);
