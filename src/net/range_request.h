// Resuming a cut download: the request headers that ask for the rest of the file, and the
// Content-Range of the answer. Used by the resilient transfer.
#pragma once
#include <cstddef>
#include <cstdint>

// "Range: bytes=FROM-" and "If-Range: VALIDATOR", each ended by CR LF, into out (cap bytes,
// always terminated). False, with out empty, when they do not fit, the validator holds a
// control character (it would end the header early, or start another) or is weak.
bool BuildRangeHeaders(std::uint32_t from, const char* validator, char* out, std::size_t cap);

// After an attempt that was cut: what the resilient transfer does next. Progress counts only as
// bytes beyond the furthest the file ever reached, so bytes written again after a start from
// zero are none: a server that cannot resume and cuts at the same place every time ends the
// download after kMostFruitlessAttempts attempts in a row, and no download makes more than
// kMostAttempts. The pauses between attempts double from 1 s after each fruitless one.
constexpr int kMostFruitlessAttempts = 5;
constexpr int kMostAttempts = 30;
struct RetryState {
    std::uint32_t furthest;  // the most bytes the file ever held
    int fruitless;           // attempts in a row that went no further
    int attempts;            // attempts made
};
enum class AfterCut { kFinish, kRetry, kGiveUp };
// have: the bytes now in the file; total: the declared length of the whole file, if hasTotal.
// kFinish when every declared byte is in (a range from the end would only be refused); with
// kRetry, *pauseMs is the pause before the next attempt.
AfterCut NextAfterCut(RetryState& s, std::uint32_t have, bool hasTotal, std::uint32_t total, std::uint32_t* pauseMs);

// True for a weak entity tag ("W/" before the quoted tag): it cannot vouch for a range.
bool IsWeakValidator(const char* validator);

// Reads "bytes FIRST-LAST/TOTAL" (blanks allowed around the numbers). False for anything else,
// for an unknown total ("*"), for a last byte before the first or at or past the total, and
// for a number beyond 32 bits.
bool ParseContentRange(const char* text, std::uint32_t* first, std::uint32_t* total);
