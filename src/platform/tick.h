#pragma once
// The millisecond tick counter seam. Elapsed times are unsigned 32-bit
// differences of two ticks, so a wrap between them still gives the right figure.

#include <cstdint>

namespace parevo {

class TickCounter {
  public:
    virtual ~TickCounter() = default;
    virtual std::uint32_t Milliseconds() = 0;
};

// Milliseconds of the system's monotonic clock, truncated to 32 bits.
class SteadyTickCounter final : public TickCounter {
  public:
    std::uint32_t Milliseconds() override;
};

inline double ElapsedSeconds(std::uint32_t startTick, std::uint32_t endTick) {
    return static_cast<double>(static_cast<std::uint32_t>(endTick - startTick)) / 1000.0;
}

}  // namespace parevo
