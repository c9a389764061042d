// The redirect rules of download-site discovery as a function over a page fetcher, so the rules
// run the same against WinInet in the loader and against scripted replies in tests.
#pragma once
#include <cstddef>

#include "base/loader_state.h"
#include "net/package_names.h"

// Fetches url into ReplyBuffer (NUL-terminated); returns 1 on success, 0 on failure.
using PageFetcher = int (*)(const char* url, void* context);

// Fetches in one candidate's chain before it is given up like a failed fetch: a loop of
// redirects cannot hold discovery forever.
constexpr int kMaxFetchesPerChain = 16;

// Longest download-site URL accepted: the worker appends the installer name to it in
// InstallerUrl, which keeps one byte for the terminator.
constexpr std::size_t kMaxSiteUrlLength = kUrlBufferSize - 1 - kInstallerNameLength;

// Runs the chains of the candidates in order, with WorkBuffer and ReplyBuffer allocated by the
// caller. Returns 1 with the download-site URL in WorkBuffer, 0 otherwise.
int RunDiscovery(const char* const* candidates, int candidateCount, PageFetcher fetch, void* context);
