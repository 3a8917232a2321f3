#include "trim/rom_header.h"

#include <algorithm>
#include <cstring>

namespace parevo {

namespace {

std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

std::uint32_t NdsHeader::TotalUsedRomSize() const {
    return Le32(totalUsedRomSize);
}
std::uint32_t NdsHeader::HeaderSize() const {
    return Le32(romHeaderSize);
}
std::uint16_t NdsHeader::HeaderCrc() const {
    return static_cast<std::uint16_t>(headerCrc[0] | headerCrc[1] << 8);
}
std::uint32_t NdsHeader::DsiTotalUsedRomSize() const {
    return Le32(dsiTotalUsedRomSize);
}

std::uint16_t Crc16(std::span<const std::uint8_t> data) {
    std::uint16_t crc = 0xFFFF;
    for (const std::uint8_t byte : data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) != 0 ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                                 : static_cast<std::uint16_t>(crc >> 1);
        }
    }
    return crc;
}

NdsHeader HeaderFromBytes(std::span<const std::uint8_t> bytes) {
    NdsHeader header;
    std::memset(&header, 0, sizeof header);
    std::memcpy(&header, bytes.data(), std::min(bytes.size(), sizeof header));
    return header;
}

bool HeaderCrcValid(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kMinimalHeaderSize) {
        return false;
    }
    return Crc16(bytes.first(kHeaderCrcSpan)) == HeaderFromBytes(bytes).HeaderCrc();
}

std::int64_t DeclaredUsedEnd(const NdsHeader& header, std::int64_t fileSize) {
    auto usable = [fileSize](std::int64_t size) { return size > 0 && size <= fileSize ? size : 0; };
    std::int64_t end = usable(header.TotalUsedRomSize());
    const bool dsi = (header.unitCode & 0x02) != 0 && header.HeaderSize() >= 0x4000 &&
                     header.DsiTotalUsedRomSize() != 0;
    if (dsi) {
        end = std::max(end, usable(header.DsiTotalUsedRomSize()));
    }
    return end;
}

}  // namespace parevo
