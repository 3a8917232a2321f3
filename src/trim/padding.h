#pragma once
// What counts as padding, and the checks over a block of an image that both
// cursors of the trim-point search use.

#include <cstddef>
#include <cstdint>
#include <optional>

namespace parevo {

// Exactly two byte values count as padding; every other value is game data.
inline bool IsPadding(std::uint8_t b) {
    return b == 0x00 || b == 0xFF;
}

// Index of the last byte in [data, data + n) that is not padding, or -1.
std::int64_t LastDataIndex(const std::uint8_t* data, size_t n);

// The value that every byte of [data, data + n) holds, when they all hold one.
std::optional<std::uint8_t> CommonByte(const std::uint8_t* data, size_t n);

}  // namespace parevo
