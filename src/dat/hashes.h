#pragma once
// The checksums a DAT lists, over zlib (CRC-32) and nettle (SHA-1, SHA-256).
// The hash states are plain values: a copy taken after an image's bytes goes on
// with any padding, so one pass over the image serves every padded length.

#include <nettle/sha1.h>
#include <nettle/sha2.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace parevo {

using Sha1Digest = std::array<std::uint8_t, SHA1_DIGEST_SIZE>;
using Sha256Digest = std::array<std::uint8_t, SHA256_DIGEST_SIZE>;

// Continues the CRC-32 `crc` (0 to begin) over `size` bytes.
std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t size);
// The CRC-32 of A followed by B, from the CRCs of both and B's length.
std::uint32_t Crc32Combine(std::uint32_t crcA, std::uint32_t crcB, std::int64_t lengthB);
// The CRC-32 of `count` bytes that all hold `value`, without going over them.
std::uint32_t Crc32OfRun(std::uint8_t value, std::int64_t count);

// The block of one byte value that runs of padding are hashed from.
inline constexpr std::size_t kRunBlock = 1 << 20;
const std::uint8_t* RunBlock(std::uint8_t value);

class Sha1 {
  public:
    Sha1() { sha1_init(&m_state); }
    void Update(const void* data, std::size_t size) {
        sha1_update(&m_state, size, static_cast<const std::uint8_t*>(data));
    }
    // Goes on over `count` bytes of `value`, hashed from a block in memory.
    void UpdateRun(std::uint8_t value, std::int64_t count);
    // The digest so far; the state stays as it is.
    Sha1Digest Digest() const;

  private:
    sha1_ctx m_state;
};

class Sha256 {
  public:
    Sha256() { sha256_init(&m_state); }
    void Update(const void* data, std::size_t size) {
        sha256_update(&m_state, size, static_cast<const std::uint8_t*>(data));
    }
    void UpdateRun(std::uint8_t value, std::int64_t count);
    Sha256Digest Digest() const;

  private:
    sha256_ctx m_state;
};

// Reads `size` hexadecimal digits (either case) into bytes; false when `text`
// has another length or holds anything else.
bool ParseHex(std::string_view text, std::uint8_t* bytes, std::size_t size);
std::string ToHex(const std::uint8_t* bytes, std::size_t size);

}  // namespace parevo
