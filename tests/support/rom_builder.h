#pragma once
// Builds DS ROM images for tests: a header (optionally with a correct CRC), game
// data, and padding of 0x00, 0xFF or a mix.

#include <cstdint>
#include <string>
#include <vector>

namespace parevo::test {

class RomBuilder {
  public:
    // Game data up to `dataEnd` (exclusive), then `padTo` bytes in all.
    RomBuilder& Title(const std::string& title);
    RomBuilder& DataUpTo(std::int64_t dataEnd);
    RomBuilder& PadTo(std::int64_t size, std::uint8_t padding = 0xFF);
    // Padding alternating in runs between 0x00 and 0xFF.
    RomBuilder& MixedPadding(bool mixed = true);
    // Writes a header declaring `usedSize` at 0x080 and fixes the CRC.
    RomBuilder& DeclaredUsedSize(std::uint32_t usedSize);
    RomBuilder& DsiUsedSize(std::uint32_t dsiUsedSize);
    RomBuilder& ValidCrc(bool valid = true);
    // Header bytes written before the CRCs are computed (a game code at 0x00C, a
    // capacity code at 0x014); with LogoCrc the logo CRC at 0x15C matches too.
    RomBuilder& HeaderField(std::int64_t offset, const std::vector<std::uint8_t>& bytes);
    RomBuilder& LogoCrc(bool valid = true);
    // Sets a byte after everything else is laid out.
    RomBuilder& Poke(std::int64_t offset, std::uint8_t value);

    std::vector<std::uint8_t> Build() const;
    void WriteTo(const std::string& path) const;

  private:
    std::string m_title = "TESTGAME";
    std::int64_t m_dataEnd = 0x4000;
    std::int64_t m_size = 0x8000;
    std::uint8_t m_padding = 0xFF;
    bool m_mixed = false;
    bool m_header = false;
    bool m_validCrc = false;
    std::uint32_t m_used = 0;
    std::uint32_t m_dsiUsed = 0;
    std::vector<std::pair<std::int64_t, std::uint8_t>> m_pokes;
    std::vector<std::pair<std::int64_t, std::vector<std::uint8_t>>> m_fields;
    bool m_logoCrc = false;
};

}  // namespace parevo::test
