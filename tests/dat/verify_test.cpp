// Images against a DAT written by tests/support: untrimmed and trimmed images
// verify by their padding, and the others say which entry they should have been.
#include "dat/verify.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/file_io.h"
#include "support/dat_builder.h"
#include "support/rom_builder.h"
#include "support/temp_dir.h"

namespace parevo {
namespace {

using test::RomBuilder;

std::vector<std::uint8_t> Image(const std::string& code, std::uint8_t padding,
                                std::int64_t size = 65536, std::int64_t dataEnd = 40000) {
    return RomBuilder()
        .Title("GAME")
        .HeaderField(0x0C, {code.begin(), code.end()})
        .DataUpTo(dataEnd)
        .PadTo(size, padding)
        .Build();
}

std::vector<std::uint8_t> Cut(std::vector<std::uint8_t> image, size_t length) {
    image.resize(length);
    return image;
}

struct VerifyCase {
    const char* name;
    std::function<std::vector<std::uint8_t>()> image;
    std::vector<std::string> lines;
};

class VerifyTest : public ::testing::TestWithParam<VerifyCase> {};

TEST_P(VerifyTest, ReportsTheEntryAndThePadding) {
    const test::TempDir dir;
    test::DatRow wrongSha256 = test::RowFor("Game D (Japan)", Image("DDDJ", 0xFF, 32768 * 3));
    wrongSha256.sha256[0] = wrongSha256.sha256[0] == '0' ? '1' : '0';
    test::WriteText(
        dir / "nds.dat",
        test::LogiqxDat(
            {test::RowFor("Game A (USA)", Image("AAAE", 0xFF), "AAAE"),
             test::RowFor("Game B (Europe)", Image("BBBP", 0x00, 131072), "NTR-BBBP-EUR"),
             test::RowFor("Game C (USA)", Image("CCCE", 0xFF), "", false), wrongSha256,
             // Read in blocks of 1 MiB: whole blocks of padding.
             test::RowFor("Game L (Europe)", Image("LLLP", 0x00, 5 << 20, 1500000))}));
    const Dat dat = LoadDat(dir / "nds.dat");
    test::WriteBytes(dir / "image.nds", GetParam().image());
    const Verdict verdict = VerifyImage(dat, InputFile(dir / "image.nds"));
    EXPECT_EQ(VerdictLines(verdict), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Images, VerifyTest,
    ::testing::Values(
        VerifyCase{"Untrimmed",
                   [] { return Image("AAAE", 0xFF); },
                   {"verified: \"Game A (USA)\" (65536 bytes, as it is)"}},
        VerifyCase{"TrimmedOfOnes",
                   [] { return Cut(Image("AAAE", 0xFF), 40100); },
                   {"verified: \"Game A (USA)\" (65536 bytes, padded with 0xFF)"}},
        VerifyCase{"TrimmedOfZeros",
                   [] { return Cut(Image("BBBP", 0x00, 131072), 40000); },
                   {"verified: \"Game B (Europe)\" (131072 bytes, padded with 0x00)"}},
        VerifyCase{"WithoutSha256InTheDat",
                   [] { return Cut(Image("CCCE", 0xFF), 50000); },
                   {"verified: \"Game C (USA)\" (65536 bytes, padded with 0xFF)"}},
        VerifyCase{"OneByteChanged",
                   [] {
                       auto image = Image("AAAE", 0xFF);
                       image[30000] ^= 0x55;
                       return image;
                   },
                   {"no match", "bad dump: differs from \"Game A (USA)\""}},
        VerifyCase{"TrimmedOfTheOtherPadding",
                   [] { return Cut(Image("BBBP", 0xFF, 131072), 40100); },
                   {"no match", "bad dump: differs from \"Game B (Europe)\""}},
        VerifyCase{"Sha256Differs",
                   [] { return Cut(Image("DDDJ", 0xFF, 32768 * 3), 40100); },
                   {"no match", "bad dump: differs from \"Game D (Japan)\""}},
        VerifyCase{"LargeTrimmedOfZeros",
                   [] { return Cut(Image("LLLP", 0x00, 5 << 20, 1500000), 1500100); },
                   {"verified: \"Game L (Europe)\" (5242880 bytes, padded with 0x00)"}},
        VerifyCase{"LargeUntrimmed",
                   [] { return Image("LLLP", 0x00, 5 << 20, 1500000); },
                   {"verified: \"Game L (Europe)\" (5242880 bytes, as it is)"}},
        VerifyCase{
            "LongerThanEveryEntry", [] { return Image("EEEE", 0xFF, 6 << 20); }, {"no match"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace parevo
