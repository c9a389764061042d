// SHA-256 in the program's own code: the held installer is compared by digest with what the
// worker wrote, and Windows 2000 and XP before SP3 have no SHA-256 in CryptoAPI.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr std::size_t kSha256Size = 32;
struct Sha256 {
    std::uint32_t state[8];
    std::uint64_t length;          // bytes added so far
    unsigned char pending[64];     // the block being filled: length % 64 bytes of it
};

// A new digest, ready for Sha256Add.
void Sha256Begin(Sha256& s);
// Adds size bytes of data (any size, in as many calls as wanted).
void Sha256Add(Sha256& s, const void* data, std::size_t size);
// The digest of everything added, into digest; s must be begun again before more is added.
void Sha256End(Sha256& s, unsigned char (&digest)[kSha256Size]);
