#pragma once
// The trim-point search written as directly as its rule reads, one byte at a
// time over an image in memory, and images shaped for it: the reference the
// program's search is compared with.

#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "trim/trim_point.h"

namespace parevo::test {

using Image = std::vector<std::uint8_t>;

struct Outcome {
    bool failed = false;
    std::string error;
    TrimPoint point;
    std::vector<std::string> progress;
};

// The rule, one byte at a time over the whole image.
Outcome PlainSearch(const Image& image, int jump, bool safeTrim);

// All 0xFF, all 0x00, runs of 1 to 3000 bytes of each, runs of 5000 to 30000
// (longer than a page), or each byte either.
enum class Padding { Ff, Zero, Runs, LongRuns, Bytes };

// One image: game data, padding, and what lies in it.
struct Shape {
    const char* name;
    std::int64_t size;
    std::int64_t dataEnd;
    Padding padding = Padding::Ff;
    // Runs of 0x00 or 0xFF inside the game data: probes pass through them.
    bool padInData = false;
    // Data bytes in the padding at these offsets (negative: from the end).
    std::vector<std::int64_t> strays = {};

    inline void PrintTo(const Shape& shape, std::ostream* os) { *os << shape.name; }
    // A valid header declaring this used size; 0: no valid header.
    std::uint32_t declared = 0;
};

// Game data of random bytes that are never padding, then the padding; the title
// "GAME" at the start.
Image Build(const Shape& shape, std::mt19937& random);

}  // namespace parevo::test
