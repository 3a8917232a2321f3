#include "trim/padding.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace parevo {

namespace {

constexpr size_t kBlock = 64;  // bytes checked per branch

#if defined(__SSE2__)
// A byte is 0x00 or 0xFF exactly when it equals its sign spread over all its
// bits. True when the 64 bytes at `p` are all padding.
bool AllPadding(const std::uint8_t* p) {
    const __m128i zero = _mm_setzero_si128();
    __m128i mixed = zero;
    for (size_t i = 0; i < kBlock; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        mixed = _mm_or_si128(mixed, _mm_xor_si128(v, _mm_cmpgt_epi8(zero, v)));
    }
    return _mm_movemask_epi8(_mm_cmpeq_epi8(mixed, zero)) == 0xFFFF;
}
#else
// A byte is 0x00 or 0xFF exactly when all its bits are equal, i.e. when it
// agrees with itself shifted by one bit within the byte.
bool AllPadding(const std::uint8_t* p) {
    constexpr std::uint64_t kLowSeven = 0x7F7F7F7F7F7F7F7FULL;
    std::uint64_t mixed = 0;
    for (size_t i = 0; i < kBlock; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, p + i, 8);
        mixed |= (word ^ (word >> 1)) & kLowSeven;
    }
    return mixed == 0;
}
#endif

}  // namespace

std::int64_t LastDataIndex(const std::uint8_t* data, size_t n) {
    // Whole blocks from the end while they are all padding, then byte by byte.
    size_t end = n;
    while (end >= kBlock && AllPadding(data + end - kBlock)) {
        end -= kBlock;
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
