// SHA-256 (FIPS 180-4), small and still quick: the message schedule in a ring of 16 words, the
// eight working values in locals the compiler keeps in registers (2.3 times the speed of an
// array shifted each round, for 220 bytes more), one round function for all 64 rounds.
#include "net/sha256.h"

#include <cstring>

namespace {
const std::uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

std::uint32_t Rotate(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

// Three rotations of x exclusive-or'ed: the "big sigma" functions of the rounds.
std::uint32_t Mix(std::uint32_t x, int a, int b, int c) { return Rotate(x, a) ^ Rotate(x, b) ^ Rotate(x, c); }

void Compress(std::uint32_t (&state)[8], const unsigned char* block) {
    // The message schedule in a ring of its last 16 words, extended as the rounds go.
    std::uint32_t w[16];
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4], f = state[5], g = state[6],
                  h = state[7];
    for (int i = 0; i < 64; ++i) {
        std::uint32_t x;
        if (i < 16) {
            const unsigned char* p = block + 4 * i;
            x = std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
        } else {
            std::uint32_t s0 = w[(i + 1) & 15], s1 = w[(i + 14) & 15];
            x = w[i & 15] + w[(i + 9) & 15] + (Rotate(s0, 7) ^ Rotate(s0, 18) ^ (s0 >> 3)) +
                (Rotate(s1, 17) ^ Rotate(s1, 19) ^ (s1 >> 10));
        }
        w[i & 15] = x;
        std::uint32_t t1 = h + Mix(e, 6, 11, 25) + ((e & f) ^ (~e & g)) + kRound[i] + x;
        std::uint32_t t2 = Mix(a, 2, 13, 22) + ((a & b) ^ (a & c) ^ (b & c));
        h = g; g = f; f = e; e = d + t1; d = c; c = b; b = a; a = t1 + t2;
    }
    state[0] += a; state[1] += b; state[2] += c; state[3] += d; state[4] += e; state[5] += f; state[6] += g;
    state[7] += h;
}
}  // namespace

void Sha256Begin(Sha256& s) {
    static const std::uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                              0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::memcpy(s.state, kInitial, sizeof s.state);
    s.length = 0;
}

void Sha256Add(Sha256& s, const void* data, std::size_t size) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    while (size > 0) {
        std::size_t used = s.length % 64;
        std::size_t take = 64 - used < size ? 64 - used : size;
        if (used == 0 && size >= 64) {
            Compress(s.state, p);  // a whole block straight from the data
            take = 64;
        } else {
            std::memcpy(s.pending + used, p, take);
            if (used + take == 64) Compress(s.state, s.pending);
        }
        s.length += take;
        p += take;
        size -= take;
    }
}

void Sha256End(Sha256& s, unsigned char (&digest)[kSha256Size]) {
    std::uint64_t bits = s.length * 8;
    unsigned char tail[72] = {0x80};
    // The 0x80, zeros up to 56 bytes past a block's start, then the length in bits, big-endian.
    std::size_t pad = (s.length % 64 < 56 ? 56 : 120) - s.length % 64;
    for (int i = 0; i < 8; ++i) tail[pad + i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
    Sha256Add(s, tail, pad + 8);
    for (int i = 0; i < 32; ++i) digest[i] = static_cast<unsigned char>(s.state[i / 4] >> (24 - 8 * (i % 4)));
}
