#include "trim/trim_point.h"

#ifndef _WIN32
#include <fcntl.h>
#endif
#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "platform/errors.h"
#include "platform/file_io.h"
#include "support/rom_builder.h"
#include "support/temp_dir.h"

namespace parevo {
namespace {

using test::RomBuilder;
using test::TempDir;

struct SearchResult {
    TrimPoint point;
    std::vector<std::string> progress;
};

SearchResult Search(const std::vector<std::uint8_t>& image, int jump, bool safeTrim) {
    TempDir dir;
    test::WriteBytes(dir / "rom.nds", image);
    SearchResult s;
    s.point = FindTrimPoint(
        InputFile(dir / "rom.nds"), jump, safeTrim,
        [&s](const std::string& text) { s.progress.push_back(text); }, '.');
    return s;
}

// S = 10,000, J = 500, game data below 8,600, 0xFF after it.
std::vector<std::uint8_t> WorkedExample() {
    return RomBuilder().Title("SOMEGAME").DataUpTo(8600).PadTo(10000, 0xFF).Build();
}

TEST(FindTrimPoint, WorkedExample) {
    const SearchResult s = Search(WorkedExample(), 500, false);
    EXPECT_EQ(s.point.SourceSize, 10000);
    EXPECT_EQ(s.point.Title, "SOMEGAME");
    EXPECT_EQ(s.point.Steps, 3);
    EXPECT_EQ(s.point.Distance, 2000);
    EXPECT_EQ(s.point.ProbeOffset, 8500);
    EXPECT_EQ(s.point.KeepLength, 9000);
    EXPECT_EQ(s.point.DataEnd, 8600);
    EXPECT_EQ(s.point.OutputLength(), 9000);
    EXPECT_EQ(s.progress, std::vector<std::string>{"500 bytes jumped. sanity check: $FF $FF $FF"});

    EXPECT_EQ(Search(WorkedExample(), 500, true).point.KeepLength, 9100);
}

TEST(FindTrimPoint, ByteJumpOfOneEndsExactlyAfterTheLastDataByte) {
    const SearchResult s = Search(WorkedExample(), 1, false);
    EXPECT_EQ(s.point.ProbeOffset, 8599);
    EXPECT_EQ(s.point.KeepLength, 8600);
    EXPECT_EQ(s.point.Steps, 10000 - 8599);
    EXPECT_EQ(s.point.Distance, s.point.Steps + 1);
}

TEST(FindTrimPoint, NoPaddingKeepsEverythingAndSafeTrimAddsNothing) {
    const auto image = RomBuilder().DataUpTo(10000).PadTo(10000).Build();
    SearchResult s = Search(image, 500, false);
    EXPECT_EQ(s.point.Steps, 1);
    EXPECT_EQ(s.point.Distance, 1000);
    EXPECT_EQ(s.point.KeepLength, 10000);
    s = Search(image, 500, true);
    EXPECT_EQ(s.point.KeepLength, 10100);
    EXPECT_EQ(s.point.OutputLength(), 10000) << "never longer than the source";
}

TEST(FindTrimPoint, MixedZeroAndFfPaddingCountsAsPadding) {
    const auto mixed = RomBuilder().DataUpTo(8600).PadTo(10000).MixedPadding().Build();
    const SearchResult s = Search(mixed, 500, false);
    EXPECT_EQ(s.point.Steps, 3);
    EXPECT_EQ(s.point.KeepLength, 9000);
    ASSERT_EQ(s.progress.size(), 1u);
    EXPECT_NE(s.progress[0].find("$0"), std::string::npos);  // 0x00 prints as a bare 0
}

TEST(FindTrimPoint, ProgressTextAtTheFirstStepThenEveryHundredth) {
    // 250 steps: data ends just below the 250th probe.
    const std::int64_t size = 200000;
    const std::int64_t p250 = size - 250 * 500;
    const auto image = RomBuilder().DataUpTo(p250 + 1).PadTo(size).Build();
    const SearchResult s = Search(image, 500, false);
    EXPECT_EQ(s.point.Steps, 250);
    EXPECT_EQ(s.progress,
              (std::vector<std::string>{"500 bytes jumped. sanity check: $FF $FF $FF",
                                        "50500 bytes jumped. sanity check: $FF $FF $FF",
                                        "100500 bytes jumped. sanity check: $FF $FF $FF"}));
}

TEST(ReadRomTitle, StopsAtPaddingAndTrimsBlanks) {
    auto title = [](const std::string& bytes) {
        MemoryByteSource source(bytes.data(), bytes.size());
        return ReadRomTitle(source);
    };
    EXPECT_EQ(title(std::string("ABC\0DEF", 7)), "ABC");
    EXPECT_EQ(title("  ABC \xFF"), "ABC");
    EXPECT_EQ(title("\xFF"
                    "ABC\0"),
              "");
    EXPECT_EQ(title(std::string("\t\x01G:A/ME\x20\x20\0", 11)), "G:A/ME");
    EXPECT_THROW(title("ABC"), IoError);
    // The title ends only at padding, however far; its first 4 KiB are kept.
    EXPECT_EQ(title(std::string(100000, 'x') + '\0'), std::string(4096, 'x'));
    EXPECT_THROW(title(std::string(100000, 'x')), IoError);
}

TEST(FindTrimPoint, FailuresAreIoErrorsNamingTheFile) {
    TempDir dir;
    auto expectError = [&](const std::vector<std::uint8_t>& image, int jump,
                           const std::string& part) {
        test::WriteBytes(dir / "bad.nds", image);
        try {
            FindTrimPoint(InputFile(dir / "bad.nds"), jump, true, {}, '.');
            ADD_FAILURE() << "no error for " << part;
        } catch (const IoError& e) {
            const std::string text = e.what();
            EXPECT_NE(text.find(dir / "bad.nds"), std::string::npos) << text;
            EXPECT_NE(text.find(part), std::string::npos) << text;
        }
    };
    // No 0x00 or 0xFF at all: the title read runs off the end.
    expectError(std::vector<std::uint8_t>(2000, 'A'), 500, "end of the file");
    // Shorter than J + H: the first step probes before the start.
    std::vector<std::uint8_t> tiny(600, 0xFF);
    tiny[0] = 'A';
    tiny[1] = 0;
    expectError(tiny, 500, "before the start");
    // Padding all the way down.
    expectError(std::vector<std::uint8_t>(5000, 0xFF), 500, "before the start");
    EXPECT_THROW(FindTrimPoint(InputFile(dir / "missing.nds"), 500, true, {}, '.'), IoError);
}

TEST(FindTrimPoint, GameDataBetweenProbesIsNeverCut) {
    // Probes of J = 500 look at 9500, 9250, 9750, 9000, 8750, 9250, 8500...; a data
    // byte at 9100 lies between them.
    const auto image = RomBuilder().DataUpTo(8600).PadTo(10000).Poke(9100, 0x42).Build();
    const SearchResult s = Search(image, 500, false);
    EXPECT_EQ(s.point.KeepLength, 9000);  // the sampled search would cut it
    EXPECT_EQ(s.point.DataEnd, 9101);
    EXPECT_EQ(s.point.OutputLength(), 9101);
}

TEST(FindTrimPoint, DataEndIsFoundAcrossBlockBoundariesForEveryJump) {
    for (const int jump : {1, 7, 500, 1999, 2000}) {
        const auto image = RomBuilder().DataUpTo(100000).PadTo(900000).Poke(600001, 0x10).Build();
        const SearchResult s = Search(image, jump, false);
        EXPECT_EQ(s.point.DataEnd, 600002) << jump;
        EXPECT_GE(s.point.OutputLength(), 600002) << jump;
    }
}

TEST(FindTrimPoint, AValidHeaderKeepsTheDeclaredArea) {
    // Game data that itself ends in zeros, up to the declared 9,300.
    auto image = RomBuilder().DataUpTo(8600).PadTo(10000).DeclaredUsedSize(9300).Build();
    SearchResult s = Search(image, 500, false);
    EXPECT_TRUE(s.point.HeaderValid);
    EXPECT_EQ(s.point.DeclaredEnd, 9300);
    EXPECT_EQ(s.point.OutputLength(), 9300);

    // The download-play signature block after the used area.
    image[9300] = 'a';
    image[9301] = 'c';
    s = Search(image, 500, false);
    EXPECT_EQ(s.point.DeclaredEnd, 9300 + 0x88);
    EXPECT_EQ(s.point.OutputLength(), 9300 + 0x88);

    // A header whose CRC does not match declares nothing.
    image = RomBuilder().DataUpTo(8600).PadTo(10000).DeclaredUsedSize(9300).ValidCrc(false).Build();
    s = Search(image, 500, false);
    EXPECT_FALSE(s.point.HeaderValid);
    EXPECT_EQ(s.point.OutputLength(), 9000);

    // A declared size beyond the file is ignored.
    image = RomBuilder().DataUpTo(8600).PadTo(10000).DeclaredUsedSize(20000).Build();
    EXPECT_EQ(Search(image, 500, false).point.OutputLength(), 9000);

    // The guards only ever raise the kept length.
    image = RomBuilder().DataUpTo(8600).PadTo(10000).DeclaredUsedSize(4000).Build();
    EXPECT_EQ(Search(image, 500, true).point.OutputLength(), 9100);
}

TEST(FindTrimPoint, DsiImagesKeepTheDsiAreaAndTheSignatureAfterTheDsArea) {
    auto image =
        RomBuilder().DataUpTo(8600).PadTo(12000).DeclaredUsedSize(8000).DsiUsedSize(11000).Build();
    EXPECT_EQ(Search(image, 500, false).point.OutputLength(), 11000);

    // The signature follows the DS area, and the DSi area ends inside it: the
    // signature's last bytes (padding values here) are kept all the same.
    image =
        RomBuilder().DataUpTo(8600).PadTo(12000).DeclaredUsedSize(8600).DsiUsedSize(8650).Build();
    image[8600] = 'a';
    image[8601] = 'c';
    EXPECT_EQ(Search(image, 1, false).point.OutputLength(), 8600 + 0x88);
    // One at the DSi area's end is no signature.
    image =
        RomBuilder().DataUpTo(8600).PadTo(12000).DeclaredUsedSize(8000).DsiUsedSize(8600).Build();
    image[8600] = 'a';
    image[8601] = 'c';
    EXPECT_EQ(Search(image, 1, false).point.OutputLength(), 8602);
}

#ifndef _WIN32
TEST(FindTrimPoint, OffsetsBeyondTwoGibibytesDoNotWrap) {
    TempDir dir;
    const std::string path = dir / "big.nds";
    const std::int64_t size = (std::int64_t{5} << 30) / 2;  // 2.5 GiB, sparse
    const std::int64_t dataEnd = size - 300000;
    {
        const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        const char head[] = "BIGGAME";  // followed by the terminating 0
        ASSERT_EQ(::pwrite(fd, head, sizeof head, 0), static_cast<ssize_t>(sizeof head));
        std::vector<std::uint8_t> data(4096, 0x33);
        ASSERT_EQ(::pwrite(fd, data.data(), data.size(), dataEnd - 4096), 4096);
        std::vector<std::uint8_t> pad(300000, 0xFF);
        ASSERT_EQ(::pwrite(fd, pad.data(), pad.size(), dataEnd), 300000);
        ::close(fd);
    }
    const TrimPoint point = FindTrimPoint(InputFile(path), 500, false, {}, '.');
    EXPECT_EQ(point.SourceSize, size);
    EXPECT_EQ(point.Title, "BIGGAME");
    EXPECT_EQ(point.DataEnd, dataEnd);
    EXPECT_GT(point.KeepLength, std::int64_t{1} << 31);
    EXPECT_GE(point.KeepLength, dataEnd);
    EXPECT_LT(point.KeepLength, dataEnd + 1000);
}
#endif

}  // namespace
}  // namespace parevo
