#include "trim/rom_header.h"

#include <gtest/gtest.h>

#include "support/rom_builder.h"

namespace parevo {
namespace {

TEST(Crc16, MatchesTheReflectedPolynomialWithInitialOnes) {
    const std::string check = "123456789";
    // The standard check value of CRC-16/MODBUS.
    EXPECT_EQ(Crc16({reinterpret_cast<const std::uint8_t*>(check.data()), check.size()}), 0x4B37);
    EXPECT_EQ(Crc16({}), 0xFFFF);
}

TEST(NdsHeader, ReadsLittleEndianFieldsAtTheirOffsets) {
    const auto rom =
        test::RomBuilder().PadTo(0x1000).DataUpTo(0x800).DeclaredUsedSize(0x12345678).Build();
    const NdsHeader header = HeaderFromBytes(rom);
    EXPECT_EQ(header.TotalUsedRomSize(), 0x12345678u);
    EXPECT_EQ(header.HeaderCrc(), Crc16({rom.data(), kHeaderCrcSpan}));
    EXPECT_TRUE(HeaderCrcValid(rom));
}

TEST(NdsHeader, CrcCheckFailsOnAChangedByteOrAShortHeader) {
    auto rom = test::RomBuilder().PadTo(0x1000).DeclaredUsedSize(0x800).Build();
    rom[0x20] ^= 1;
    EXPECT_FALSE(HeaderCrcValid(rom));
    const auto good = test::RomBuilder().PadTo(0x1000).DeclaredUsedSize(0x800).Build();
    EXPECT_FALSE(HeaderCrcValid(std::span(good).first(kMinimalHeaderSize - 1)));
}

TEST(NdsHeader, DeclaredEndIgnoresZeroAndSizesBeyondTheFile) {
    NdsHeader header =
        HeaderFromBytes(test::RomBuilder().PadTo(0x1000).DeclaredUsedSize(0x900).Build());
    EXPECT_EQ(DeclaredUsedEnd(header, 0x1000), 0x900);
    EXPECT_EQ(DeclaredUsedEnd(header, 0x8FF), 0);
    header = HeaderFromBytes(test::RomBuilder().PadTo(0x1000).DeclaredUsedSize(0).Build());
    EXPECT_EQ(DeclaredUsedEnd(header, 0x1000), 0);
}

TEST(NdsHeader, DsiUsedSizeCountsOnlyForDsiImagesWithALargeHeader) {
    auto rom = test::RomBuilder().PadTo(0x2000).DeclaredUsedSize(0x900).DsiUsedSize(0x1800).Build();
    EXPECT_EQ(DeclaredUsedEnd(HeaderFromBytes(rom), 0x2000), 0x1800);
    // Not larger: the plain size stands.
    rom = test::RomBuilder().PadTo(0x2000).DeclaredUsedSize(0x900).DsiUsedSize(0x800).Build();
    EXPECT_EQ(DeclaredUsedEnd(HeaderFromBytes(rom), 0x2000), 0x900);
    // Unit code without the DSi bit.
    rom = test::RomBuilder().PadTo(0x2000).DeclaredUsedSize(0x900).DsiUsedSize(0x1800).Build();
    rom[0x012] = 0x00;
    EXPECT_EQ(DeclaredUsedEnd(HeaderFromBytes(rom), 0x2000), 0x900);
    // Header size below 0x4000.
    rom = test::RomBuilder().PadTo(0x2000).DeclaredUsedSize(0x900).DsiUsedSize(0x1800).Build();
    rom[0x085] = 0x3F;
    EXPECT_EQ(DeclaredUsedEnd(HeaderFromBytes(rom), 0x2000), 0x900);
}

}  // namespace
}  // namespace parevo
