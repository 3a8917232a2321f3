#include "trim/padding.h"

#include <cstring>

namespace parevo {

std::int64_t LastDataIndex(const std::uint8_t* data, size_t n) {
    // A byte is 0x00 or 0xFF exactly when all its bits are equal, i.e. when it
    // agrees with itself shifted by one bit within the byte. Checking 64 bytes per
    // branch lets the compiler keep the loop in vector registers.
    constexpr std::uint64_t kLowSeven = 0x7F7F7F7F7F7F7F7FULL;
    constexpr size_t kChunk = 64;
    size_t end = n;
    while (end >= kChunk) {
        std::uint64_t words[kChunk / 8];
        std::memcpy(words, data + end - kChunk, kChunk);
        std::uint64_t mixed = 0;
        for (const std::uint64_t word : words) {
            mixed |= (word ^ (word >> 1)) & kLowSeven;
        }
        if (mixed != 0) {
            break;
        }
        end -= kChunk;
    }
    while (end > 0) {
        if (!IsPadding(data[end - 1])) {
            return static_cast<std::int64_t>(end - 1);
        }
        --end;
    }
    return -1;
}

std::optional<std::uint8_t> CommonByte(const std::uint8_t* data, size_t n) {
    // Every byte equals the one after it exactly when all are equal.
    if (n == 0 || (n > 1 && std::memcmp(data, data + 1, n - 1) != 0)) {
        return std::nullopt;
    }
    return data[0];
}

}  // namespace parevo
