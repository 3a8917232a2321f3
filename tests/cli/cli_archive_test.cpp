// Archive sources end to end: parevo-cli with the real zip and RAR components
// and their run-time-loaded libraries, on archives written in the test.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "archive/rar_component.h"
#include "archive/zip_component.h"
#include "cli/cli_fixture.h"
#include "platform/batch_prompter.h"
#include "support/rar_builder.h"
#include "support/zip_builder.h"
#include "trim/archive_step.h"

namespace parevo {
namespace {

namespace fs = std::filesystem;
using test::RarBuilder;
using test::RarMember;
using test::ZipBuilder;

std::vector<std::uint8_t> RomBytes(const std::string& title) {
    return RomBuilder().Title(title).DataUpTo(8600).PadTo(10000).Build();
}

std::string AsText(const std::vector<std::uint8_t>& bytes) {
    return {bytes.begin(), bytes.end()};
}

class CliArchiveTest : public CliTest {};

TEST_F(CliArchiveTest, AZipWithTwoRomsExtractsBothAndTrimsTheLast) {
    ZipBuilder()
        .Stored("first.nds", AsText(RomBytes("FIRST")))
        .Stored("readme.txt", "hello")
        .Deflated("sub/second.nds", AsText(RomBytes("SECOND")))
        .WriteTo(dir / "pack.zip");
    const Result r = Run({"pack.zip"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 5u) << r.out;
    EXPECT_EQ(lines[0], "rom (pack.zip) 1 of 1 -> searching for .nds file in first.nds..");
    EXPECT_EQ(lines[1], "rom (pack.zip) 1 of 1 -> searching for .nds file in sub/second.nds..");
    EXPECT_EQ(lines[2], "rom (pack.zip) 1 of 1 -> extracting .nds file..");
    EXPECT_EQ(lines[3].substr(0, 45), "rom (second.nds) 1 of 1 -> trimming 2kb (20.0");
    EXPECT_EQ(lines[4].substr(0, 41), "rom 1 of 1 -> saved second_trim.nds to di");
    EXPECT_EQ(test::ReadBytes(dir / "first.nds"), RomBytes("FIRST"));
    EXPECT_EQ(test::ReadBytes(dir / "sub/second.nds"), RomBytes("SECOND"));
    // The output goes to the archive's folder; the text member is not extracted.
    EXPECT_EQ(test::ReadBytes(dir / "second_trim.nds").size(), 9100u);
    EXPECT_FALSE(fs::exists(dir / "readme.txt"));
    EXPECT_FALSE(fs::exists(dir / "first_trim.nds"));
}

TEST_F(CliArchiveTest, AnExtractionNeverReplacesAnOutputOfTheRun) {
    // Trimmed in place, the first archive's member is that entry's output; the
    // second archive's member of the same name must not be extracted over it.
    ZipBuilder().Stored("game.nds", AsText(RomBytes("USA"))).WriteTo(dir / "usa.zip");
    ZipBuilder().Stored("game.nds", AsText(RomBytes("EUR"))).WriteTo(dir / "eur.zip");
    RarBuilder().AddFile("game.nds", RomBytes("EUR")).WriteTo(dir / "eur.rar");
    auto trimmedUsa = RomBytes("USA");
    trimmedUsa.resize(9100);
    for (const char* second : {"eur.zip", "eur.rar"}) {
        fs::remove(dir / "game.nds");
        const Result r = Run({"--append=", "usa.zip", second});
        EXPECT_EQ(r.exitCode, 1) << second;
        EXPECT_EQ(r.err,
                  "error: Cannot create \"game.nds\": already written for \"usa.zip\" in "
                  "this run\n")
            << second;
        EXPECT_EQ(test::ReadBytes(dir / "game.nds"), trimmedUsa) << second;
    }
}

TEST_F(CliArchiveTest, AnExtractionKilledHalfWayLeavesNoFileBehind) {
    // 64 MiB of game data: a long extraction, by either library.
    const std::string rom = "BIGGAME" + std::string(64 << 20, '\x42');
    ZipBuilder().Deflated("big.nds", rom).WriteTo(dir / "big.zip");
    RarBuilder().AddFile("big.nds", {rom.begin(), rom.end()}).WriteTo(dir / "big.rar");
    for (const char* archive : {"big.zip", "big.rar"}) {
        bool caught = false;
        for (int attempt = 0; attempt < 3 && !caught; ++attempt) {
            caught =
                KillWhileWriting({archive}, {"big.zip", "big.rar"}) && !fs::exists(dir / "big.nds");
            fs::remove(dir / "big.nds");
            fs::remove(dir / "big_trim.nds");
        }
        ASSERT_TRUE(caught) << archive;
        EXPECT_EQ(dir.List(), (std::vector<std::string>{"big.rar", "big.zip"})) << archive;
    }
}

TEST_F(CliArchiveTest, DeleteSourceRecyclesTheZipThenTheExtractedRom) {
    ZipBuilder().Stored("game.nds", AsText(RomBytes("GAME"))).WriteTo(dir / "pack.zip");
    const Result r = Run({"--delete-source", "pack.zip"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 6u) << r.out;
    EXPECT_EQ(lines[4], "rom 1 of 1 -> deleted pack.zip");
    EXPECT_EQ(lines[5], "rom 1 of 1 -> deleted game.nds");
    EXPECT_EQ(dir.List(), std::vector<std::string>{"game_trim.nds"});
    EXPECT_TRUE(fs::exists(home / "data/Trash/files/pack.zip"));
    EXPECT_TRUE(fs::exists(home / "data/Trash/files/game.nds"));
}

TEST_F(CliArchiveTest, AZipWithoutARomEndsWithItsLineAndTheRunGoesOn) {
    ZipBuilder()
        .Stored("GAME.NDS", AsText(RomBytes("GAME")))
        .Stored("a.txt", "x")
        .WriteTo(dir / "caps.zip");
    Rom("a.nds");
    Rom("c.nds");
    const Result r = Run({"a.nds", "caps.zip", "c.nds"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 5u) << r.out;
    EXPECT_EQ(lines[2], "rom (caps.zip) 2 of 3 -> no nds file found in zip; aborting..");
    EXPECT_EQ(lines[3].substr(0, 27), "rom (c.nds) 3 of 3 -> trimm");
    EXPECT_FALSE(fs::exists(dir / "GAME.NDS"));
}

TEST_F(CliArchiveTest, AMemberNamedOutsideTheArchiveFolderIsNeverTaken) {
    fs::create_directory(dir / "inner");
    ZipBuilder()
        .Stored("../evil.nds", AsText(RomBytes("EVIL")))
        .Stored("/abs.nds", AsText(RomBytes("ABS")))
        .WriteTo(dir / "inner/pack.zip");
    const Result r = Run({"inner/pack.zip"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Lines(r.out), std::vector<std::string>{
                                "rom (pack.zip) 1 of 1 -> no nds file found in zip; aborting.."});
    EXPECT_EQ(dir.List(), std::vector<std::string>{"inner"});
    EXPECT_FALSE(fs::exists("/abs.nds"));
}

TEST_F(CliArchiveTest, ARarWithTwoRomsTrimsTheFirstAndLeavesTheOtherMembers) {
    RarBuilder()
        .AddText("readme.txt", "hello")
        .AddFile("one.nds", RomBytes("ONE"))
        .AddFile("two.nds", RomBytes("TWO"))
        .WriteTo(dir / "pack.rar");
    const Result r = Run({"--delete-source", "pack.rar"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 6u) << r.out;
    EXPECT_EQ(lines[0], "rom (pack.rar) 1 of 1 -> found .nds file..");
    EXPECT_EQ(lines[1], "rom (pack.rar) 1 of 1 -> extracting .nds file..");
    EXPECT_EQ(lines[2].substr(0, 24), "rom (one.nds) 1 of 1 -> ");
    EXPECT_EQ(lines[4], "rom 1 of 1 -> deleted pack.rar");
    EXPECT_EQ(lines[5], "rom 1 of 1 -> deleted one.nds");
    // Every member was extracted; only the archive and the trimmed ROM went.
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"one_trim.nds", "readme.txt", "two.nds"}));
    EXPECT_EQ(test::ReadText(dir / "readme.txt"), "hello");
}

TEST_F(CliArchiveTest, ARarWithoutARom) {
    RarBuilder()
        .AddText("readme.txt", "hello")
        .AddFile("GAME.NDS", RomBytes("G"))
        .WriteTo(dir / "pack.rar");
    const Result r = Run({"pack.rar"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Lines(r.out), std::vector<std::string>{
                                "rom (pack.rar) 1 of 1 -> no nds file found in rar; aborting.."});
    EXPECT_EQ(dir.List(), std::vector<std::string>{"pack.rar"});
}

TEST_F(CliArchiveTest, ARomInARarFolderIsTrimmedIntoTheArchiveFolder) {
    RarBuilder().AddFolder("sub").AddFile("sub/game.nds", RomBytes("G")).WriteTo(dir / "pack.rar");
    const Result r = Run({"pack.rar"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(fs::exists(dir / "sub/game.nds"));
    EXPECT_EQ(test::ReadBytes(dir / "game_trim.nds").size(), 9100u);
}

TEST_F(CliArchiveTest, ExtractionStatusTexts) {
    ZipBuilder().Stored("game.nds", AsText(RomBytes("GAME"))).WriteTo(dir / "pack.zip");
    RarBuilder().AddFile("game2.nds", RomBytes("GAME")).WriteTo(dir / "pack.rar");
    const Result r = Run({"--status", "pack.zip", "pack.rar"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto status = Lines(r.err);
    EXPECT_NE(std::find(status.begin(), status.end(), "extracting .nds file... "), status.end())
        << r.err;
    EXPECT_NE(std::find(status.begin(), status.end(), "extracting .nds file..."), status.end())
        << r.err;
    // Opening and closing the RAR archive blanks the status line.
    EXPECT_NE(std::find(status.begin(), status.end(), ""), status.end()) << r.err;
}

TEST_F(CliArchiveTest, ADamagedRarReportsItsErrorAndEnds) {
    RarBuilder().AddFile("game.nds", RomBytes("G")).BreakLastHeaderCrc().WriteTo(dir / "bad.rar");
    const Result r = Run({"bad.rar"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("rar: "), std::string::npos) << r.err;
    EXPECT_EQ(dir.List(), std::vector<std::string>{"bad.rar"});
}

// A RAR whose ROM no longer matches its checksum: nothing is trimmed, the older
// file of the ROM's name stays, and the run says why.
TEST_F(CliArchiveTest, ARarWithADamagedRomEndsWithItsErrorAndNoOutput) {
    const std::vector<std::uint8_t> stale = RomBytes("STALE");
    test::WriteBytes(dir / "game.nds", stale);
    const auto rom = RomBytes("GAME");
    RarBuilder b;
    b.AddText("readme.txt", "hello").AddFile("game.nds", rom);
    auto bytes = b.Build();
    const auto at = std::search(bytes.begin(), bytes.end(), rom.begin(), rom.end());
    ASSERT_NE(at, bytes.end());
    at[5000] ^= 0x01;  // in the game data, after its CRC was taken
    test::WriteBytes(dir / "pack.rar", bytes);
    const Result r = Run({"--delete-source", "pack.rar"});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("rar: données corrompues (12)"), std::string::npos) << r.err;
    EXPECT_EQ(test::ReadBytes(dir / "game.nds"), stale);
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"game.nds", "pack.rar", "readme.txt"}));
}

// A ROM split over two volumes, the second missing, in both formats.
TEST_F(CliArchiveTest, ARarRomGoingOnInAMissingVolumeEndsWithItsErrorAndNoOutput) {
    RarMember rom4;
    rom4.name = "game.nds";
    rom4.data = RomBytes("GAME");
    test::Rar5Member rom5;
    rom5.name = rom4.name;
    rom5.data = rom4.data;
    for (const auto& first :
         {RarBuilder::VolumeSet(rom4, 2, true)[0], test::Rar5Builder::VolumeSet(rom5, 2)[0]}) {
        test::WriteBytes(dir / "game.part1.rar", first);
        const Result r = Run({"game.part1.rar"});
        EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
        EXPECT_NE(r.err.find("rar: Volumn-Error (15)"), std::string::npos) << r.err;
        EXPECT_EQ(dir.List(), std::vector<std::string>{"game.part1.rar"});
    }
}

#ifndef _WIN32
TEST_F(CliArchiveTest, AFifoNamedLikeTheNextVolumeIsNeverWaitedOn) {
    RarMember rom;
    rom.name = "game.nds";
    rom.data = RomBytes("GAME");
    test::WriteBytes(dir / "game.part1.rar", RarBuilder::VolumeSet(rom, 2, true)[0]);
    ASSERT_EQ(::mkfifo((dir / "game.part2.rar").c_str(), 0644), 0);
    const Result r = Run({"game.part1.rar"}, 20);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("rar: Volumn-Error (15)"), std::string::npos) << r.err;
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"game.part1.rar", "game.part2.rar"}));
}
#endif

TEST_F(CliArchiveTest, AMemberThatWasNotExtractedIsNeverTrimmedInItsPlace) {
    // An older, unrelated game.nds stands beside an archive whose game.nds is
    // encrypted: without the password nothing is extracted.
    const std::vector<std::uint8_t> stale = RomBytes("STALE");
    test::WriteBytes(dir / "game.nds", stale);
    const auto longAgo = fs::file_time_type::clock::now() - std::chrono::hours(24 * 365 * 30);
    fs::last_write_time(dir / "game.nds", longAgo);
    test::ZipMember member;
    member.name = "game.nds";
    const auto rom = RomBytes("NEW");
    member.data.assign(rom.begin(), rom.end());
    member.password = "secret";
    ZipBuilder().Add(member).WriteTo(dir / "pack.zip");
    Result r = Run({"--delete-source", "pack.zip"});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("could not be extracted"), std::string::npos) << r.err;
    EXPECT_EQ(test::ReadBytes(dir / "game.nds"), stale);
    EXPECT_TRUE(fs::exists(dir / "pack.zip"));
    EXPECT_FALSE(fs::exists(dir / "game_trim.nds"));

    // With the password it could be extracted, but the older, different file
    // in its way is never replaced: the entry fails and nothing changes.
    r = Run({"--password", "secret", "--delete-source", "pack.zip"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("error: Cannot extract \"game.nds\" from \"pack.zip\": a different file "
                         "\"game.nds\" is in the way\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(test::ReadBytes(dir / "game.nds"), stale);
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"game.nds", "pack.zip"}));

    // Out of the way, it is extracted and trimmed.
    fs::remove(dir / "game.nds");
    r = Run({"--password", "secret", "pack.zip"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(test::ReadBytes(dir / "game.nds"), rom);
}

// What stands beside an archive is never replaced by a member: the same bytes
// stand for the member (also cut down by an earlier trim in place), a different
// file keeps its place.
TEST_F(CliArchiveTest, FilesBesideAnArchiveAreNeverReplacedByItsMembers) {
    const auto rom = RomBytes("GAME");
    ZipBuilder().Stored("game.nds", AsText(rom)).WriteTo(dir / "pack.zip");
    RarBuilder()
        .AddText("notes.txt", "from the rar")
        .AddFile("game.nds", rom)
        .WriteTo(dir / "pack.rar");
    const auto other = RomBytes("OTHER");
    for (const char* archive : {"pack.zip", "pack.rar"}) {
        SCOPED_TRACE(archive);
        for (const char* stale : {"game.nds", "notes.txt", "game_trim.nds"}) {
            fs::remove(dir / stale);
        }
        // A different, newer game.nds: the member is not taken and nothing changes.
        test::WriteBytes(dir / "game.nds", other);
        Result r = Run({"--delete-source", archive});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, std::string("error: Cannot extract \"game.nds\" from \"") + archive +
                             "\": a different file \"game.nds\" is in the way\n");
        EXPECT_EQ(test::ReadBytes(dir / "game.nds"), other);
        EXPECT_EQ(dir.List(), (std::vector<std::string>{"game.nds", "pack.rar", "pack.zip"}));

        // The member itself is there from an earlier run: it is trimmed again.
        test::WriteBytes(dir / "game.nds", rom);
        r = Run({archive});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(test::ReadBytes(dir / "game_trim.nds").size(), 9100u);
        // Trimmed in place by that run: it still stands for the member, and
        // there is nothing more to cut.
        r = Run({"--append=", archive});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        r = Run({"--append=", archive});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(test::ReadBytes(dir / "game.nds"), test::ReadBytes(dir / "game_trim.nds"));
    }
    // A RAR's other member that meets a different file is passed over with a
    // line; the ROM goes on.
    test::WriteText(dir / "notes.txt", "mine");
    fs::remove(dir / "game.nds");
    const Result r = Run({"pack.rar"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("rom (pack.rar) 1 of 1 -> passed over notes.txt in the rar: a different "
                         "file of that name is there\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(test::ReadText(dir / "notes.txt"), "mine");
    EXPECT_EQ(test::ReadBytes(dir / "game.nds"), rom);
}

TEST_F(CliArchiveTest, AMemberNameWithANulByteNeverReachesAnotherFile) {
    const std::vector<std::uint8_t> save(5000, 0x42);
    test::WriteBytes(dir / "game.sav", save);
    ZipBuilder()
        .Stored(std::string("game.sav\0.nds", 13), AsText(RomBytes("G")))
        .WriteTo(dir / "pack.zip");
    const Result r = Run({"pack.zip"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Lines(r.out), std::vector<std::string>{
                                "rom (pack.zip) 1 of 1 -> no nds file found in zip; aborting.."});
    EXPECT_EQ(test::ReadBytes(dir / "game.sav"), save);
}

TEST_F(CliArchiveTest, AMissingArchiveIsAnErrorAndCreatesNothing) {
    const Result r = Run({"typo.zip"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "error: Cannot open \"typo.zip\": No such file or directory\n");
    EXPECT_TRUE(dir.List().empty());
}

TEST(StatusHandlers, WriteTheirFixedTexts) {
    std::vector<std::string> seen;
    BatchPrompter prompter;
    ZipComponent zip(prompter);
    RarComponent rar;
    ConfigureArchiveComponents(zip, rar,
                               [&seen](const std::string& text) { seen.push_back(text); });
    zip.OnProgress(&zip, "a.nds", 10, 20);
    rar.OnProgress(rar, 1, 2, 30, 40);
    rar.OnRarStatus(rar, "", RarStatus::Open);
    rar.OnRarStatus(rar, "Le mot de passe utilisé est : x", RarStatus::Password);
    EXPECT_EQ(seen, (std::vector<std::string>{"extracting .nds file... ", "extracting .nds file...",
                                              "", "Le mot de passe utilisé est : x"}));
    ConfigureArchiveComponents(zip, rar, {});
    zip.OnProgress(&zip, "a.nds", 10, 20);  // an unbound sink is passed over
    rar.OnProgress(rar, 1, 2, 30, 40);
    EXPECT_EQ(seen.size(), 4u);
}

}  // namespace
}  // namespace parevo
