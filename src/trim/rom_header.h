#pragma once
// The parts of a DS ROM header that decide where game data ends. The record
// mirrors the on-disk layout byte for byte; multi-byte fields are little-endian
// and read through the accessors.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace parevo {

struct NdsHeader {
    char gameTitle[12];                   // 0x000
    char gameCode[4];                     // 0x00C
    char makerCode[2];                    // 0x010
    std::uint8_t unitCode;                // 0x012: bit 1 set = DSi-enhanced or DSi-only
    std::uint8_t encryptionSeed;          // 0x013
    std::uint8_t deviceCapacity;          // 0x014
    std::uint8_t reserved1[0x6B];         // 0x015
    std::uint8_t totalUsedRomSize[4];     // 0x080
    std::uint8_t romHeaderSize[4];        // 0x084
    std::uint8_t reserved2[0xD4];         // 0x088
    std::uint8_t logoCrc[2];              // 0x15C
    std::uint8_t headerCrc[2];            // 0x15E: CRC-16 of 0x000-0x15D
    std::uint8_t reserved3[0xB0];         // 0x160
    std::uint8_t dsiTotalUsedRomSize[4];  // 0x210

    std::uint32_t TotalUsedRomSize() const;
    std::uint32_t HeaderSize() const;
    std::uint16_t HeaderCrc() const;
    std::uint32_t DsiTotalUsedRomSize() const;
};

static_assert(offsetof(NdsHeader, gameTitle) == 0x000);
static_assert(offsetof(NdsHeader, gameCode) == 0x00C);
static_assert(offsetof(NdsHeader, unitCode) == 0x012);
static_assert(offsetof(NdsHeader, deviceCapacity) == 0x014);
static_assert(offsetof(NdsHeader, totalUsedRomSize) == 0x080);
static_assert(offsetof(NdsHeader, romHeaderSize) == 0x084);
static_assert(offsetof(NdsHeader, logoCrc) == 0x15C);
static_assert(offsetof(NdsHeader, headerCrc) == 0x15E);
static_assert(offsetof(NdsHeader, dsiTotalUsedRomSize) == 0x210);
static_assert(sizeof(NdsHeader) == 0x214);

// The header CRC covers bytes 0x000 to 0x15D.
constexpr std::size_t kHeaderCrcSpan = 0x15E;
// Bytes needed to check the header CRC.
constexpr std::size_t kMinimalHeaderSize = 0x160;
// The download-play signature block that may follow the used area, marked "ac".
constexpr std::int64_t kSignatureBlockSize = 0x88;

// CRC-16 with the reflected polynomial 0x8005 (0xA001), initial value 0xFFFF and
// no final XOR.
std::uint16_t Crc16(std::span<const std::uint8_t> data);

// Reads a header from the first bytes of an image. Bytes beyond `bytes` are zero.
NdsHeader HeaderFromBytes(std::span<const std::uint8_t> bytes);

// True when at least kMinimalHeaderSize bytes were given and the CRC matches.
bool HeaderCrcValid(std::span<const std::uint8_t> bytes);

// End of the data the header declares for an image of `fileSize` bytes, before
// the signature block: the total used ROM size, or the DSi one when it applies and
// is larger. 0 when nothing usable is declared (a size of 0 or one past the file).
std::int64_t DeclaredUsedEnd(const NdsHeader& header, std::int64_t fileSize);

}  // namespace parevo
