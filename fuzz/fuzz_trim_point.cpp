// Any bytes as a ROM image: the search either finds a trim point inside the
// image or reports an IoError; it never reads out of bounds or hangs.
#include <cstddef>
#include <cstdint>

#include "platform/errors.h"
#include "trim/trim_point.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const int jump = 1 + ((data[0] << 8 | data[1]) % parevo::kMaxByteJump);
    parevo::MemoryByteSource source(data + 2, size - 2, "fuzz.nds");
    try {
        const parevo::TrimPoint point =
            parevo::FindTrimPointIn(source, jump, (data[0] & 1) != 0, {}, '.');
        if (point.KeepLength > point.SourceSize + parevo::kSafeTrimMargin ||
            point.OutputLength() < point.DataEnd || point.DataEnd > point.SourceSize) {
            __builtin_trap();
        }
    } catch (const parevo::IoError&) {
    }
    return 0;
}
