// Untrim over real files: the image padded back to its capacity, named and
// written as a trim's output; trim and untrim undo each other; the refusals.
#include "trim/untrim.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/errors.h"
#include "support/rom_builder.h"
#include "support/temp_dir.h"

namespace parevo {
namespace {

using test::RomBuilder;

// A dump of 256 KiB (capacity code 1) whose padding is `padding` throughout.
std::vector<std::uint8_t> Dump(std::uint8_t padding) {
    return RomBuilder()
        .Title("SOMEGAME")
        .HeaderField(0x12, {0x00, 0x00, 0x01})
        .DeclaredUsedSize(0x9000)
        .DataUpTo(0x9000)
        .PadTo(0x40000, padding)
        .Build();
}

class UntrimTest : public ::testing::Test {
  protected:
    UntrimTest() {
        env.AddLog = [this](const std::string& line) { log.push_back(line); };
        env.Options = [this] { return options; };
        env.style = PathStyle::Posix;
        env.decimalSeparator = '.';
    }
    void Trim(const std::string& path) {
        options.AppendText = "";
        log.clear();
        TrimRom(path, 0, 1, env);
    }
    void Untrim(const std::string& path, const UntrimOptions& untrim = {}) {
        log.clear();
        UntrimRom(path, 0, 1, env, untrim);
    }

    test::TempDir dir;
    TrimOptions options;
    TrimEnvironment env;
    std::vector<std::string> log;
};

TEST_F(UntrimTest, TrimAndUntrimUndoEachOther) {
    for (const std::uint8_t padding : {0xFF, 0x00}) {
        const std::vector<std::uint8_t> dump = Dump(padding);
        const std::string path = dir / "game.nds";
        test::WriteBytes(path, dump);
        Trim(path);
        const std::vector<std::uint8_t> trimmed = test::ReadBytes(path);
        ASSERT_LT(trimmed.size(), dump.size());

        options.AppendText = "_untrim";
        Untrim(path, {std::nullopt, padding});
        EXPECT_EQ(test::ReadBytes(dir / "game_untrim.nds"), dump) << int(padding);
        EXPECT_EQ(test::ReadBytes(path), trimmed);  // the source stays
        EXPECT_EQ(log, (std::vector<std::string>{
                           "rom (game.nds) 1 of 1 -> padding " +
                               std::to_string((dump.size() - trimmed.size()) / 1000) +
                               "kb with 0x" + (padding == 0 ? "00" : "FF") + " up to 262144 bytes",
                           "rom 1 of 1 -> saved game_untrim.nds to disk in 0.00s"}));
        // In place, and trimmed again: the trimmed file, byte for byte.
        options.AppendText = "";
        Untrim(path, {std::nullopt, padding});
        EXPECT_EQ(test::ReadBytes(path), dump);
        Trim(path);
        EXPECT_EQ(test::ReadBytes(path), trimmed);
    }
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"game.nds", "game_untrim.nds"}));
}

TEST_F(UntrimTest, ASizeAskedForWinsOverTheCapacity) {
    test::WriteBytes(dir / "game.nds", Dump(0xFF));
    options.AppendText = "_u";
    Untrim(dir / "game.nds", {0x50000, 0xFF});
    std::vector<std::uint8_t> expected = Dump(0xFF);
    expected.resize(0x50000, 0xFF);
    EXPECT_EQ(test::ReadBytes(dir / "game_u.nds"), expected);
}

TEST_F(UntrimTest, RefusalsLeaveEveryFileAsItWas) {
    const std::map<std::string, std::pair<RomBuilder, std::string>> cases{
        {"long.nds",
         {RomBuilder().HeaderField(0x14, {0x00}).ValidCrc().PadTo(0x20001),
          "it is longer (131073 bytes) than its cartridge capacity (131072 bytes)"}},
        {"range.nds",
         {RomBuilder().HeaderField(0x14, {0x0E}).ValidCrc(),
          "the header's capacity code 14 is out of range (0 to 13)"}},
        {"short.nds",
         {RomBuilder().PadTo(0x100), "too short for a DS ROM header (256 bytes of 352)"}},
        {"text.nds",
         {RomBuilder(), "not a DS ROM image (neither its header CRC nor its logo CRC matches)"}},
    };
    options.AppendText = "_untrim";
    for (const auto& [name, rule] : cases) {
        rule.first.WriteTo(dir / name);
        try {
            Untrim(dir / name);
            ADD_FAILURE() << name;
        } catch (const IoError& e) {
            EXPECT_EQ(e.what(), "Cannot untrim \"" + dir / name + "\": " + rule.second);
        }
        EXPECT_EQ(test::ReadBytes(dir / name), rule.first.Build());
    }
    try {
        Untrim(dir / "text.nds", {100, 0xFF});
        ADD_FAILURE();
    } catch (const IoError& e) {
        EXPECT_EQ(e.what(), "Cannot untrim \"" + dir / "text.nds" +
                                "\": it is longer (32768 bytes) than the size asked for (100 "
                                "bytes)");
    }
    EXPECT_EQ(dir.List().size(), cases.size());  // no output, no temporary file
}

}  // namespace
}  // namespace parevo
