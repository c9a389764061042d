// The redirect rules of download-site discovery as a function over a page fetcher, so the rules
// run the same against WinInet in the loader and against scripted replies in tests.
#pragma once
#include <cstddef>

// Fetches url into ReplyBuffer (NUL-terminated); returns 1 on success, 0 on failure.
using PageFetcher = int (*)(const char* url, void* context);

// Fetches in one candidate's chain before it is given up like a failed fetch: a loop of
// redirects cannot hold discovery forever.
constexpr int kMaxFetchesPerChain = 16;

// Longest download-site URL accepted: the worker appends the installer name (20 characters
// with a three-letter language code) to it in the 2048-byte InstallerUrl.
constexpr std::size_t kMaxSiteUrlLength = 2048 - 1 - 20;

// Runs the chains of the candidates in order, with WorkBuffer and ReplyBuffer allocated by the
// caller. Returns 1 with the download-site URL in WorkBuffer, 0 otherwise.
int RunDiscovery(const char* const* candidates, int candidateCount, PageFetcher fetch, void* context);
