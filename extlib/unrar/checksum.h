#pragma once
// The checksums RAR archives keep for their members' data and headers: CRC-32
// (the polynomial zip and zlib use) and, for RAR 5 members that carry it,
// BLAKE2sp-256 (eight BLAKE2s leaves over interleaved 64-byte blocks and one
// root over the leaves' digests, RFC 7693).

#include <array>
#include <cstddef>
#include <cstdint>

namespace unrar {

// The CRC-32 of `size` bytes, continuing from `crc` (0 to begin).
std::uint32_t Crc32(const void* data, std::size_t size, std::uint32_t crc = 0);

using Blake2Digest = std::array<std::uint8_t, 32>;

// BLAKE2s with the parameter block of one node of a hash tree.
class Blake2s {
  public:
    struct Node {
        std::uint8_t fanout = 1;
        std::uint8_t depth = 1;
        std::uint64_t offset = 0;
        std::uint8_t nodeDepth = 0;
        std::uint8_t innerLength = 0;
        bool lastNode = false;
    };
    Blake2s() : Blake2s(Node()) {}
    explicit Blake2s(const Node& node);
    void Update(const std::uint8_t* data, std::size_t size);
    Blake2Digest Final();

  private:
    friend class Blake2sp;
    void Compress(const std::uint8_t* block, bool last);

    std::uint32_t m_h[8];
    std::uint64_t m_count = 0;
    std::uint8_t m_buffer[64];
    std::size_t m_buffered = 0;
    bool m_lastNode;
};

class Blake2sp {
  public:
    Blake2sp();
    void Update(const void* data, std::size_t size);
    Blake2Digest Final();

  private:
    static constexpr std::size_t kLeaves = 8;
    static constexpr std::size_t kStripe = kLeaves * 64;
    // A stripe of eight blocks goes into the leaves once every leaf has data
    // after it: each leaf's last block is the one compressed as final.
    static constexpr std::size_t kHeld = kStripe + (kLeaves - 1) * 64;

    // Compresses `count` whole stripes into the leaves, none of them final.
    void Stripes(const std::uint8_t* p, std::size_t count);

    Blake2s m_root;
    std::uint32_t m_h[8][kLeaves];  // word j of leaf i's chain value at [j][i]
    std::uint64_t m_count = 0;      // the bytes each leaf has compressed
    std::uint8_t m_buffer[2 * kStripe];
    std::size_t m_buffered = 0;
};

}  // namespace unrar
