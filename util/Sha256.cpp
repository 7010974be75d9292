#include "util/Sha256.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace private_encrypt_space {

namespace {

constexpr std::uint32_t kRoundConstants[64] = {
    0x428a2f98,
    0x71374491,
    0xb5c0fbcf,
    0xe9b5dba5,
    0x3956c25b,
    0x59f111f1,
    0x923f82a4,
    0xab1c5ed5,
    0xd807aa98,
    0x12835b01,
    0x243185be,
    0x550c7dc3,
    0x72be5d74,
    0x80deb1fe,
    0x9bdc06a7,
    0xc19bf174,
    0xe49b69c1,
    0xefbe4786,
    0x0fc19dc6,
    0x240ca1cc,
    0x2de92c6f,
    0x4a7484aa,
    0x5cb0a9dc,
    0x76f988da,
    0x983e5152,
    0xa831c66d,
    0xb00327c8,
    0xbf597fc7,
    0xc6e00bf3,
    0xd5a79147,
    0x06ca6351,
    0x14292967,
    0x27b70a85,
    0x2e1b2138,
    0x4d2c6dfc,
    0x53380d13,
    0x650a7354,
    0x766a0abb,
    0x81c2c92e,
    0x92722c85,
    0xa2bfe8a1,
    0xa81a664b,
    0xc24b8b70,
    0xc76c51a3,
    0xd192e819,
    0xd6990624,
    0xf40e3585,
    0x106aa070,
    0x19a4c116,
    0x1e376c08,
    0x2748774c,
    0x34b0bcb5,
    0x391c0cb3,
    0x4ed8aa4a,
    0x5b9cca4f,
    0x682e6ff3,
    0x748f82ee,
    0x78a5636f,
    0x84c87814,
    0x8cc70208,
    0x90befffa,
    0xa4506ceb,
    0xbef9a3f7,
    0xc67178f2,
};

constexpr std::uint32_t kInitialState[8] = {
    0x6a09e667,
    0xbb67ae85,
    0x3c6ef372,
    0xa54ff53a,
    0x510e527f,
    0x9b05688c,
    0x1f83d9ab,
    0x5be0cd19,
};

inline std::uint32_t rotr(std::uint32_t x, unsigned n)
{
    return (x >> n) | (x << (32 - n));
}

inline std::uint32_t loadBigEndian(const std::uint8_t *p)
{
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

inline void storeBigEndian(std::uint32_t v, std::uint8_t *p)
{
    p[0] = std::uint8_t(v >> 24);
    p[1] = std::uint8_t(v >> 16);
    p[2] = std::uint8_t(v >> 8);
    p[3] = std::uint8_t(v);
}

void processBlock(std::uint32_t state[8], const std::uint8_t *block)
{
    std::uint32_t w[64];
    for (int i = 0; i < 16; ++i)
        w[i] = loadBigEndian(block + 4 * i);
    for (int i = 16; i < 64; ++i) {
        const std::uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const std::uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int i = 0; i < 64; ++i) {
        const std::uint32_t t1
            = h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + kRoundConstants[i] + w[i];
        const std::uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
}

} // namespace

void sha256Start(Sha256Context &context)
{
    context.total[0] = context.total[1] = 0;
    std::memcpy(context.state, kInitialState, sizeof kInitialState);
}

void sha256Update(Sha256Context &context, const std::uint8_t *data, std::size_t length)
{
    if (length == 0)
        return;
    std::size_t filled = context.total[0] % kSha256BlockSize;
    const std::uint64_t total = ((std::uint64_t(context.total[1]) << 32) | context.total[0]) + length;
    context.total[0] = std::uint32_t(total);
    context.total[1] = std::uint32_t(total >> 32);

    if (filled) {
        const std::size_t take = std::min(length, kSha256BlockSize - filled);
        std::memcpy(context.buffer + filled, data, take);
        data += take;
        length -= take;
        filled += take;
        if (filled < kSha256BlockSize)
            return;
        processBlock(context.state, context.buffer);
    }
    for (; length >= kSha256BlockSize; data += kSha256BlockSize, length -= kSha256BlockSize)
        processBlock(context.state, data);
    if (length)
        std::memcpy(context.buffer, data, length);
}

// FIPS 180-4 padding: 0x80, zeros, then the bit length as a 64-bit big-endian number; an extra block
// whenever fewer than 9 bytes remain in the last one.
void sha256Finish(Sha256Context &context, std::uint8_t digest[kSha256DigestSize])
{
    const std::uint64_t bitLength = ((std::uint64_t(context.total[1]) << 32) | context.total[0]) * 8;
    const std::size_t filled = context.total[0] % kSha256BlockSize;
    std::uint8_t padding[2 * kSha256BlockSize] = {0x80};
    const std::size_t padLength
        = (filled < kSha256BlockSize - 8 ? kSha256BlockSize : 2 * kSha256BlockSize) - filled;
    for (int i = 0; i < 8; ++i)
        padding[padLength - 8 + i] = std::uint8_t(bitLength >> (56 - 8 * i));
    sha256Update(context, padding, padLength);
    for (int i = 0; i < 8; ++i)
        storeBigEndian(context.state[i], digest + 4 * i);
}

} // namespace private_encrypt_space

using namespace private_encrypt_space;

char *sha256Hex(const void *data, std::size_t length, char *output)
{
    Sha256Context context;
    sha256Start(context);
    sha256Update(context, static_cast<const std::uint8_t *>(data), length);
    std::uint8_t digest[kSha256DigestSize];
    sha256Finish(context, digest);
    for (int i = 0; i < 8; ++i)
        std::snprintf(output + 8 * i, 9, "%08x", unsigned(context.state[i]));
    return output;
}

// RFC 2104 with a 64-byte block: a longer key is replaced by its digest first.
void hmacSha256(const std::uint8_t *key, std::size_t keyLength, const std::uint8_t *message,
    std::size_t messageLength, std::uint8_t output[kSha256DigestSize])
{
    Sha256Context context;
    std::uint8_t keyDigest[kSha256DigestSize];
    if (keyLength > kSha256BlockSize) {
        sha256Start(context);
        sha256Update(context, key, keyLength);
        sha256Finish(context, keyDigest);
        key = keyDigest;
        keyLength = kSha256DigestSize;
    }
    std::memset(context.innerPad, 0x36, kSha256BlockSize);
    std::memset(context.outerPad, 0x5c, kSha256BlockSize);
    for (std::size_t i = 0; i < keyLength; ++i) {
        context.innerPad[i] ^= key[i];
        context.outerPad[i] ^= key[i];
    }

    std::uint8_t innerDigest[kSha256DigestSize];
    sha256Start(context);
    sha256Update(context, context.innerPad, kSha256BlockSize);
    sha256Update(context, message, messageLength);
    sha256Finish(context, innerDigest);

    sha256Start(context);
    sha256Update(context, context.outerPad, kSha256BlockSize);
    sha256Update(context, innerDigest, kSha256DigestSize);
    sha256Finish(context, output);

    // The pads and the chaining state are key material.
    volatile std::uint8_t *wipe = reinterpret_cast<volatile std::uint8_t *>(&context);
    for (std::size_t i = 0; i < sizeof context; ++i)
        wipe[i] = 0;
}
