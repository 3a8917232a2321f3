// A trim run with a DAT: the line each ROM adds, and the ROMs whose output
// could not be padded back to their entry, which are refused or removed.
#include "trim/dat_check.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/errors.h"
#include "support/dat_builder.h"
#include "support/rom_builder.h"
#include "support/temp_dir.h"

namespace parevo {
namespace {

using test::RomBuilder;

std::vector<std::uint8_t> Dump(std::uint8_t padding, std::int64_t dataEnd = 40000) {
    return RomBuilder().Title("GAME").DataUpTo(dataEnd).PadTo(0x20000, padding).Build();
}

class DatCheckTest : public ::testing::Test {
  protected:
    DatCheckTest() {
        env.AddLog = [this](const std::string& line) { log.push_back(line); };
        env.Options = [this] { return options; };
        env.style = PathStyle::Posix;
        env.decimalSeparator = '.';
    }

    // Trims `image` written as game.nds with the DAT of `listed`; the error text
    // or "" when the trim went through.
    std::string Trim(const std::vector<std::uint8_t>& image,
                     const std::vector<std::vector<std::uint8_t>>& listed) {
        std::vector<test::DatRow> rows;
        for (const auto& dump : listed) {
            rows.push_back(test::RowFor("Game " + std::to_string(rows.size() + 1), dump));
        }
        test::WriteText(dir / "nds.dat", test::LogiqxDat(rows));
        const Dat dat = LoadDat(dir / "nds.dat");
        DatCheck check(dat);
        env.check = &check;
        test::WriteBytes(dir / "game.nds", image);
        log.clear();
        try {
            TrimRom(dir / "game.nds", 0, 1, env);
        } catch (const IoError& e) {
            return e.what();
        }
        return "";
    }

    test::TempDir dir;
    TrimOptions options;
    TrimEnvironment env;
    std::vector<std::string> log;
};

TEST_F(DatCheckTest, EachRomAddsOneLine) {
    for (const char* append : {"_trim", ""}) {
        options.AppendText = append;
        const std::string output = dir / (std::string("game") + append + ".nds");
        for (const std::uint8_t padding : {0xFF, 0x00}) {
            EXPECT_EQ(Trim(Dump(padding), {Dump(0xFF, 50000), Dump(padding)}), "");
            ASSERT_EQ(log.size(), 3u);
            EXPECT_EQ(log[2], "rom 1 of 1 -> verified \"Game 2\"");
            std::vector<std::uint8_t> prefix = Dump(padding);
            prefix.resize(test::ReadBytes(output).size());
            EXPECT_EQ(test::ReadBytes(output), prefix);
            EXPECT_LT(prefix.size(), Dump(padding).size());
        }
        EXPECT_EQ(Trim(Dump(0xFF), {Dump(0xFF, 50000)}), "");
        EXPECT_EQ(log.back(), "rom 1 of 1 -> not in the DAT");
    }
}

TEST_F(DatCheckTest, AnOutputThatWouldNotPadBackIsRefusedBeforeTheCut) {
    // Padding of 0x00 and then 0xFF: what the trim takes off is no one value.
    std::vector<std::uint8_t> mixed = Dump(0xFF);
    std::fill(mixed.begin() + 40050, mixed.begin() + 60000, 0x00);
    // Whole blocks of 0x00, then of 0xFF, as the check reads them (1 MiB each).
    std::vector<std::uint8_t> blocks = RomBuilder().DataUpTo(40000).PadTo(4 << 20).Build();
    std::fill(blocks.begin() + (1 << 20), blocks.begin() + (3 << 20), 0x00);
    for (const char* append : {"_trim", ""}) {
        options.AppendText = append;
        for (const auto& image : {mixed, blocks}) {
            EXPECT_EQ(Trim(image, {Dump(0xFF), mixed, blocks}),
                      "Cannot trim \"" + dir / "game.nds" +
                          "\": its trimmed image could not be padded back to \"Game " +
                          (image == mixed ? "2" : "3") +
                          "\" of the DAT (the bytes the trim takes off are not one padding value)");
            EXPECT_EQ(test::ReadBytes(dir / "game.nds"), image);
            EXPECT_EQ(dir.List(), (std::vector<std::string>{"game.nds", "nds.dat"}));
        }
    }
}

TEST_F(DatCheckTest, AnOutputThatChangedAfterItsWriteIsRemoved) {
    // 3 MiB kept: the check reads the output in pieces, breathing between them;
    // meanwhile something writes into the output's last piece.
    const std::vector<std::uint8_t> dump =
        RomBuilder().Title("GAME").DataUpTo(3 << 20).PadTo(4 << 20).Build();
    bool damaged = false;
    env.keepAlive = [&] {
        std::error_code missing;
        if (!damaged && std::filesystem::file_size(dir / "game_trim.nds", missing) > (3 << 20) &&
            !missing) {
            std::fstream(dir / "game_trim.nds", std::ios::in | std::ios::out | std::ios::binary)
                .seekp(3 << 20)
                .put('\x42');
            damaged = true;
        }
    };
    EXPECT_EQ(Trim(dump, {dump}),
              "Cannot trim \"" + dir / "game.nds" + "\": its output \"" + dir / "game_trim.nds" +
                  "\" does not give \"Game 1\" of the DAT padded back; the output was removed");
    EXPECT_TRUE(damaged);
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"game.nds", "nds.dat"}));
}

}  // namespace
}  // namespace parevo
