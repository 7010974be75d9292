#pragma once

#include <cstddef>
#include <cstdint>

namespace private_encrypt_space {

constexpr std::size_t kSha256BlockSize = 64;
constexpr std::size_t kSha256DigestSize = 32;

// Streaming SHA-256 state; the two pads are kept here for HMAC.
struct Sha256Context
{
    std::uint32_t total[2]; // input length in bytes: low word, high word
    std::uint32_t state[8]; // chaining words
    std::uint8_t buffer[kSha256BlockSize]; // the block being filled
    std::uint8_t innerPad[kSha256BlockSize]; // HMAC key XOR 0x36
    std::uint8_t outerPad[kSha256BlockSize]; // HMAC key XOR 0x5c
};

void sha256Start(Sha256Context &context);
void sha256Update(Sha256Context &context, const std::uint8_t *data, std::size_t length);
// Writes the digest as big-endian words.
void sha256Finish(Sha256Context &context, std::uint8_t digest[kSha256DigestSize]);

} // namespace private_encrypt_space

// Writes the SHA-256 digest of data as 64 lower-case hexadecimal characters and a terminating zero into
// output (at least 65 bytes) and returns output.
char *sha256Hex(const void *data, std::size_t length, char *output);

// Writes the raw 32-byte HMAC-SHA-256 of message under key into output.
void hmacSha256(const std::uint8_t *key, std::size_t keyLength, const std::uint8_t *message,
    std::size_t messageLength, std::uint8_t output[private_encrypt_space::kSha256DigestSize]);
