// parevo-cli's --info, --verify, --untrim and --dat: what only the command line
// adds to the core's work (JSON, exit codes, options, archives read without a
// trace, the DAT from the settings file).
#include <gtest/gtest.h>

#include "cli/cli_fixture.h"
#include "support/dat_builder.h"
#include "support/zip_builder.h"

namespace parevo {
namespace {

class CliDatTest : public CliTest {
  protected:
    static std::vector<std::uint8_t> Dump(std::int64_t dataEnd = 0x9000) {
        return RomBuilder()
            .Title("SOMEGAME")
            .HeaderField(0x0C, {'A', 'S', 'M', 'E', '0', '1', 0x00, 0x00, 0x01})
            .DeclaredUsedSize(static_cast<std::uint32_t>(dataEnd))
            .DataUpTo(dataEnd)
            .PadTo(0x40000)
            .Build();
    }
    void SetUp() override {
        test::WriteBytes(dir / "game.nds", Dump());
        test::WriteText(dir / "nds.dat",
                        test::LogiqxDat({test::RowFor("Some Game (Europe)", Dump(), "ASME")}));
    }
};

TEST_F(CliDatTest, InfoPrintsEveryImageAndAnEntryForEachFailure) {
    test::ZipBuilder()
        .Stored("roms/other.nds", std::string(0x100, 'x'))
        .Stored("roms/b.nds",
                [] {
                    const auto bytes = Dump(0x8000);
                    return std::string(bytes.begin(), bytes.end());
                }())
        .WriteTo(dir / "pack.zip");
    const std::vector<std::string> before = dir.List();
    Result r = Run({"--info", "--json", "--dat", "nds.dat", "game.nds", "pack.zip", "no.nds"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.rfind("[\n  {\n    \"file\": \"game.nds\",\n", 0), 0u) << r.out;
    for (const char* part :
         {"\"member\": null,\n    \"size\": 262144,\n    \"title\": \"SOMEGAME\",\n    "
          "\"game_code\": \"ASME\",",
          "\"capacity\": 262144,\n    \"capacity_code\": 1,",
          "\"dat\": {\n      \"verified\": true,\n      \"game\": \"Some Game (Europe)\",\n      "
          "\"dat_size\": 262144,\n      \"padded_with\": null,\n      \"differs_from\": []\n    }",
          "\"file\": \"pack.zip\",\n    \"member\": \"roms/other.nds\",\n    \"error\": \"Cannot "
          "read \\\"",
          "\"member\": \"roms/b.nds\",\n    \"size\": 262144,",
          "\"differs_from\": [\"Some Game (Europe)\"]",
          "\"file\": \"no.nds\",\n    \"member\": null,\n    \"error\": \"Cannot open "
          "\\\"no.nds\\\": "
          "No such file or directory\"\n  }\n]\n"}) {
        EXPECT_NE(r.out.find(part), std::string::npos) << part << "\nin\n" << r.out;
    }
    EXPECT_EQ(dir.List(), before);  // the members were read from a folder that went

    r = Run({"--info", "game.nds", "no.nds"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(Lines(r.out)[0], "game.nds");
    EXPECT_EQ(Lines(r.out)[1], "  size:          262144 bytes");
    EXPECT_EQ(r.err, "error: Cannot open \"no.nds\": No such file or directory\n");
}

TEST_F(CliDatTest, VerifyExitsWithZeroOnlyWhenEveryImageVerified) {
    ASSERT_EQ(Run({"--append", "_t", "game.nds"}).exitCode, 0);
    Result r = Run({"--dat", "nds.dat", "--verify", "game_t.nds"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out,
              "game_t.nds\n  verified: \"Some Game (Europe)\" (262144 bytes, padded with 0xFF)\n");
    test::WriteBytes(dir / "bad.nds", Dump(0x8000));
    r = Run({"--dat", "nds.dat", "--verify", "bad.nds", "game.nds"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(Lines(r.out)[1], "  no match");
    EXPECT_EQ(Lines(r.out)[2], "  bad dump: differs from \"Some Game (Europe)\"");

    r = Run({"--verify", "game.nds"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "error: --verify needs a DAT file (--dat FILE)\n");
    test::WriteText(dir / "bad.dat", "<datafile>\n<game>\n");
    r = Run({"--dat", "bad.dat", "game.nds"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "error: Cannot read DAT \"bad.dat\": line 3: no element found\n");
    EXPECT_EQ(r.out, "");
}

TEST_F(CliDatTest, ATrimTakesTheSettingsDatUnlessTheCommandLineSaysOtherwise) {
    test::WriteText(dir / "settings.xml",
                    "<settings>\r\n <datfile value=\"nds.dat\" />\r\n</settings>\r\n");
    ignoreSettings = false;
    Result r = Run({"--settings", "settings.xml", "game.nds"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_EQ(Lines(r.out).size(), 3u);
    EXPECT_EQ(Lines(r.out)[2], "rom 1 of 1 -> verified \"Some Game (Europe)\"");
    r = Run({"--settings", "settings.xml", "--no-dat", "game.nds"});
    EXPECT_EQ(Lines(r.out).size(), 2u);
}

TEST_F(CliDatTest, UntrimOptions) {
    std::vector<std::uint8_t> zeros = Dump();
    std::fill(zeros.begin() + 0x9000, zeros.end(), 0x00);
    test::WriteBytes(dir / "zeros.nds", zeros);
    ASSERT_EQ(Run({"--append=", "zeros.nds"}).exitCode, 0);
    Result r = Run({"--untrim", "--pad-byte", "0x00", "zeros.nds"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(test::ReadBytes(dir / "zeros_untrim.nds"), zeros);
    for (const auto& [args, error] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"--untrim", "--pad-byte", "0x01"}, "--pad-byte: \"0x01\" is neither 0xFF nor 0x00"},
             {{"--untrim", "--untrim-size", "1k"},
              "--untrim-size: \"1k\" is not a number of bytes"},
             {{"--pad-byte", "0xFF"}, "--pad-byte requires --untrim"},
             {{"--info", "--untrim"}, "--info excludes --untrim"}}) {
        std::vector<std::string> all = args;
        all.push_back("zeros.nds");
        r = Run(all);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(Lines(r.err)[0], "error: " + error);
    }
}

}  // namespace
}  // namespace parevo
