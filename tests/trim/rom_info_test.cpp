// What --info and the dialog show, read from images built with known headers.
#include "trim/rom_info.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "platform/errors.h"
#include "platform/file_io.h"
#include "support/rom_builder.h"
#include "support/temp_dir.h"

namespace parevo {
namespace {

using test::RomBuilder;

std::vector<std::uint8_t> Le32(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

// A DS image of 128 KiB (capacity code 0) with valid CRCs, its ARM9 code in
// the secure area, decrypted; game data up to `dataEnd`.
RomBuilder Dump(std::int64_t dataEnd = 0x9000) {
    const std::vector<std::uint8_t> word = Le32(0xE7FFDEFF);
    std::vector<std::uint8_t> decrypted = word;
    decrypted.insert(decrypted.end(), word.begin(), word.end());
    return RomBuilder()
        .Title("SOMEGAME")
        .HeaderField(0x0C, {'A', 'S', 'M', 'E', '0', '1', 0x00, 0x00, 0x00})
        .HeaderField(0x1E, {2})
        .HeaderField(0x20, Le32(0x4000))
        .HeaderField(0x4000, decrypted)
        .DeclaredUsedSize(static_cast<std::uint32_t>(dataEnd))
        .LogoCrc()
        .DataUpTo(dataEnd)
        .PadTo(0x20000);
}

struct InfoCase {
    const char* name;
    std::function<RomBuilder()> image;
    std::map<std::string, std::string> fields;  // those this case is about
};

class RomInfoTest : public ::testing::TestWithParam<InfoCase> {};

TEST_P(RomInfoTest, ShowsTheFields) {
    const test::TempDir dir;
    GetParam().image().WriteTo(dir / "game.nds");
    TrimOptions options;
    options.SafeTrim = false;
    const RomInfo info = ReadRomInfo(InputFile(dir / "game.nds"), options);
    std::map<std::string, std::string> shown;
    for (const auto& [key, value] : InfoFields(info)) {
        shown[key] = value;
    }
    for (const auto& [key, value] : GetParam().fields) {
        EXPECT_EQ(shown[key], value) << key;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Images, RomInfoTest,
    ::testing::Values(
        InfoCase{"DecryptedDump",
                 [] { return Dump(); },
                 {{"size", "131072 bytes"},
                  {"title", "SOMEGAME"},
                  {"game code", "ASME"},
                  {"maker code", "01"},
                  {"unit", "DS"},
                  {"rom version", "2"},
                  {"capacity", "131072 bytes (0x00)"},
                  {"header crc", "valid"},
                  {"logo crc", "valid"},
                  {"secure area", "decrypted"},
                  {"ds used size", "36864 bytes"},
                  {"dsi used size", ""},
                  {"signature", "none"},
                  {"padding", "0xFF, 94208 bytes"},
                  {"trim keeps", "37572 bytes"},
                  {"trimmed", "no"}}},
        InfoCase{"TrimmedDsiWithSignature",
                 [] {
                     return Dump(0x9088)
                         .HeaderField(0x012, {0x02})
                         .HeaderField(0x014, {0x01})
                         .HeaderField(0x080, Le32(0x9000))
                         .DsiUsedSize(0x9088)
                         .HeaderField(0x9000, {0xAC, 0x01, 0x00})
                         .PadTo(0x10000, 0x00);
                 },
                 {{"unit", "DSi-enhanced"},
                  {"capacity", "262144 bytes (0x01)"},
                  {"ds used size", "36864 bytes"},
                  {"dsi used size", "37000 bytes"},
                  {"signature", "download-play signature after the DS area"},
                  {"padding", "0x00, 28536 bytes"},
                  {"trimmed", "yes (shorter than its capacity)"}}},
        InfoCase{"EncryptedMixedPadding",
                 [] {
                     return Dump()
                         .HeaderField(0x4000, Le32(0x12345678))
                         .MixedPadding()
                         .HeaderField(0x014, {0x0E});
                 },
                 {{"secure area", "encrypted"},
                  {"padding", "mixed 0x00 and 0xFF, 94208 bytes"},
                  {"capacity", "out of range (0x0E)"},
                  {"trimmed", "unknown (no capacity)"}}},
        InfoCase{
            "EmptySecureAreaBadHeaderCrc",
            [] {
                return Dump().HeaderField(0x4000, std::vector<std::uint8_t>(8, 0)).ValidCrc(false);
            },
            {{"secure area", "empty"}, {"header crc", "invalid"}, {"logo crc", "valid"}}},
        InfoCase{
            "Arm9OutsideTheSecureAreaNoPadding",
            [] { return Dump(0x20000).HeaderField(0x20, Le32(0x200)); },
            {{"secure area", "unknown"}, {"padding", "none"}, {"trim keeps", "131072 bytes"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RomInfo, AFileThatIsNoImageIsAnError) {
    const test::TempDir dir;
    RomBuilder().PadTo(0x15F).WriteTo(dir / "short.nds");
    RomBuilder().PadTo(0x1000).WriteTo(dir / "text.nds");
    for (const auto& [name, reason] : std::map<std::string, std::string>{
             {"short.nds", "too short for a DS ROM header (351 bytes of 352)"},
             {"text.nds",
              "not a DS ROM image (neither its header CRC nor its logo CRC matches)"}}) {
        try {
            ReadRomInfo(InputFile(dir / name), TrimOptions{});
            ADD_FAILURE() << name;
        } catch (const IoError& e) {
            EXPECT_EQ(e.what(), "Cannot read \"" + dir / name + "\": " + reason);
        }
    }
}

}  // namespace
}  // namespace parevo
