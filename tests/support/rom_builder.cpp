#include "support/rom_builder.h"

#include <algorithm>
#include <cstring>

#include "support/temp_dir.h"
#include "trim/rom_header.h"

namespace parevo::test {

RomBuilder& RomBuilder::Title(const std::string& title) {
    m_title = title;
    return *this;
}
RomBuilder& RomBuilder::DataUpTo(std::int64_t dataEnd) {
    m_dataEnd = dataEnd;
    return *this;
}
RomBuilder& RomBuilder::PadTo(std::int64_t size, std::uint8_t padding) {
    m_size = size;
    m_padding = padding;
    return *this;
}
RomBuilder& RomBuilder::MixedPadding(bool mixed) {
    m_mixed = mixed;
    return *this;
}
RomBuilder& RomBuilder::DeclaredUsedSize(std::uint32_t usedSize) {
    m_header = true;
    m_validCrc = true;
    m_used = usedSize;
    return *this;
}
RomBuilder& RomBuilder::DsiUsedSize(std::uint32_t dsiUsedSize) {
    m_header = true;
    m_dsiUsed = dsiUsedSize;
    return *this;
}
RomBuilder& RomBuilder::ValidCrc(bool valid) {
    m_header = true;
    m_validCrc = valid;
    return *this;
}
RomBuilder& RomBuilder::HeaderField(std::int64_t offset, const std::vector<std::uint8_t>& bytes) {
    m_header = true;
    m_fields.emplace_back(offset, bytes);
    return *this;
}
RomBuilder& RomBuilder::LogoCrc(bool valid) {
    m_header = true;
    m_logoCrc = valid;
    return *this;
}
RomBuilder& RomBuilder::Poke(std::int64_t offset, std::uint8_t value) {
    m_pokes.emplace_back(offset, value);
    return *this;
}

std::vector<std::uint8_t> RomBuilder::Build() const {
    std::vector<std::uint8_t> rom(static_cast<size_t>(m_size));
    // Game data: bytes that are never 0x00 or 0xFF, so the end of data is exact.
    for (std::int64_t i = 0; i < m_dataEnd && i < m_size; ++i) {
        rom[static_cast<size_t>(i)] = static_cast<std::uint8_t>(0x01 + (i * 7) % 0xFD);
    }
    for (std::int64_t i = m_dataEnd; i < m_size; ++i) {
        std::uint8_t pad = m_padding;
        if (m_mixed) {
            pad = ((i / 37) % 2 == 0) ? 0x00 : 0xFF;
        }
        rom[static_cast<size_t>(i)] = pad;
    }
    // The title ends at the first 0x00 after it.
    const size_t titleLength = std::min<size_t>(m_title.size(), rom.size());
    std::memcpy(rom.data(), m_title.data(), titleLength);
    if (titleLength < rom.size()) {
        rom[titleLength] = 0x00;
    }
    if (m_header && rom.size() >= kMinimalHeaderSize) {
        auto put32 = [&rom](size_t at, std::uint32_t v) {
            for (int b = 0; b < 4 && at + b < rom.size(); ++b) {
                rom[at + b] = static_cast<std::uint8_t>(v >> (8 * b));
            }
        };
        put32(0x080, m_used);
        if (m_dsiUsed != 0) {
            rom[0x012] = 0x02;
            put32(0x084, 0x4000);
            put32(0x210, m_dsiUsed);
        }
        for (const auto& [offset, bytes] : m_fields) {
            std::copy(bytes.begin(), bytes.end(), rom.begin() + offset);
        }
        if (m_logoCrc) {
            const std::uint16_t logo = Crc16({rom.data() + 0x0C0, 0x15C - 0x0C0});
            rom[0x15C] = static_cast<std::uint8_t>(logo);
            rom[0x15D] = static_cast<std::uint8_t>(logo >> 8);
        }
        std::uint16_t crc = Crc16({rom.data(), kHeaderCrcSpan});
        if (!m_validCrc) {
            crc = static_cast<std::uint16_t>(crc ^ 0x5A5A);
        }
        rom[0x15E] = static_cast<std::uint8_t>(crc);
        rom[0x15F] = static_cast<std::uint8_t>(crc >> 8);
    }
    for (const auto& [offset, value] : m_pokes) {
        rom[static_cast<size_t>(offset)] = value;
    }
    return rom;
}

void RomBuilder::WriteTo(const std::string& path) const {
    WriteBytes(path, Build());
}

}  // namespace parevo::test
