// parevo-cli end to end: the built program run on real files.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>
#include <fstream>

#include "cli/cli_fixture.h"

namespace parevo {
namespace {

namespace fs = std::filesystem;
using test::RomBuilder;
using test::TempDir;

TEST_F(CliTest, TrimsEveryFileInOrderWithTheLogLines) {
    Rom("0123 - Some Game (E).nds");
    Rom("b.nds", 10000);
    const Result r = Run({"0123 - Some Game (E).nds", "b.nds", "--no-safe-trim"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 4u) << r.out;
    EXPECT_EQ(lines[0].substr(0, 66),
              "rom (0123 - Some ...) 1 of 2 -> trimming 2kb (20.00%), searched in");
    EXPECT_EQ(lines[1].substr(0, 55), "rom 1 of 2 -> saved 0123 - Some Game (E)_trim.nds to di");
    EXPECT_EQ(lines[2].substr(0, 48), "rom (b.nds) 2 of 2 -> trimming 1kb (10.00%), sea");
    EXPECT_EQ(lines[3].substr(0, 41), "rom 2 of 2 -> saved b_trim.nds to disk in");
    EXPECT_EQ(test::ReadBytes(dir / "0123 - Some Game (E)_trim.nds").size(), 9000u);
    EXPECT_EQ(test::ReadBytes(dir / "b_trim.nds").size(), 10000u);
    EXPECT_TRUE(r.err.empty());
}

TEST_F(CliTest, OptionsShapeTheOutput) {
    Rom("0123 - Some Game (E).nds");
    fs::create_directory(dir / "out");
    Result r = Run({"--trim-scene-number", "--append", "-x", "--output-dir", "out",
                    "0123 - Some Game (E).nds"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(test::ReadBytes(dir / "out/Some Game (E)-x.nds").size(), 9100u);

    r = Run({"--header-name", "--byte-jump", "1", "--no-safe-trim", "0123 - Some Game (E).nds"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(test::ReadBytes(dir / "SOMEGAME_trim.nds").size(), 8600u);
}

TEST_F(CliTest, EmptyAppendTextOverwritesTheSourceAndKeepsIt) {
    Rom("game.nds");
    const Result r = Run({"--append=", "--delete-source", "game.nds"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Lines(r.out).back(),
              "rom 1 of 1 -> skipped deleting source; output file overwrote it.");
    EXPECT_EQ(test::ReadBytes(dir / "game.nds").size(), 9100u);
}

TEST_F(CliTest, AnOutputDirThatIsNotThereIsAnError) {
    Rom("game.nds");
    Rom("pack.zip");  // not opened: the run ends before the first file
    test::WriteText(dir / "file", "");
    for (const char* folder : {"missing", "file"}) {
        for (const char* mode : {"--keep-going", "--dry-run"}) {
            const Result r =
                Run({mode, "--append=", "--output-dir", folder, "game.nds", "pack.zip"});
            EXPECT_EQ(r.exitCode, 1);
            EXPECT_EQ(r.err, std::string("error: output folder \"") + folder + "\" " +
                                 (folder == std::string("missing") ? "does not exist"
                                                                   : "is not a folder") +
                                 "\n");
            EXPECT_EQ(r.out, "");
        }
    }
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"file", "game.nds", "pack.zip"}));
    EXPECT_EQ(test::ReadBytes(dir / "game.nds").size(), 10000u);
}

TEST_F(CliTest, DeleteSourceMovesTheSourceToTheRecycleBin) {
    Rom("game.nds");
    const Result r = Run({"--delete-source", "game.nds"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Lines(r.out).back(), "rom 1 of 1 -> deleted game.nds");
    EXPECT_FALSE(fs::exists(dir / "game.nds"));
    EXPECT_TRUE(fs::exists(dir / "game_trim.nds"));
    EXPECT_EQ(test::ReadBytes(home / "data/Trash/files/game.nds").size(), 10000u);
}

TEST_F(CliTest, DryRunReportsAndWritesNothing) {
    RomBuilder()
        .Title("SOMEGAME")
        .DataUpTo(8600)
        .PadTo(10000)
        .DeclaredUsedSize(9300)
        .WriteTo(dir / "g.nds");
    Rom("x.zip");
    const Result r = Run({"--dry-run", "--delete-source", "--byte-jump", "0", "g.nds", "x.zip"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("title:        SOMEGAME\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("size:         10000 bytes\n"), std::string::npos);
    EXPECT_NE(r.out.find("steps:        1401\n"), std::string::npos);  // the jump became 1
    EXPECT_NE(r.out.find("kept length:  9300 bytes"), std::string::npos);
    EXPECT_NE(r.out.find("CRC valid; declares data up to 9300"), std::string::npos);
    EXPECT_NE(r.out.find("output:       g_trim.nds\n"), std::string::npos);
    EXPECT_NE(r.out.find("x.zip\n  skipped"), std::string::npos);
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"g.nds", "x.zip"}));
    // A missing archive is the run's error too.
    EXPECT_EQ(Run({"--dry-run", "y.zip"}).err,
              "error: Cannot open \"y.zip\": No such file or directory\n");
}

TEST_F(CliTest, ADryRunReportsWhatTheRunDecides) {
    RomBuilder().Title("AB/../../x").DataUpTo(8600).PadTo(10000).WriteTo(dir / "hostile.nds");
    Rom("game.nds");
    const std::string refusal =
        "error: Cannot create \"AB/../../x_trim.nds\": the title in the ROM header "
        "(\"AB/../../x\") cannot be used as a file name\n";
    const Result dry = Run({"--dry-run", "--header-name", "hostile.nds", "game.nds"});
    const Result real = Run({"--header-name", "hostile.nds", "game.nds"});
    for (const Result& r : {dry, real}) {
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, refusal);
        EXPECT_EQ(r.out.find("output:"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("game.nds"), std::string::npos) << r.out;  // the run stopped
    }
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"game.nds", "hostile.nds"}));

    // In place: the dry run says that the source itself is cut.
    const Result inPlace = Run({"--dry-run", "--append=", "game.nds"});
    EXPECT_NE(inPlace.out.find("output:       game.nds (the source itself, cut in place)\n"),
              std::string::npos)
        << inPlace.out;
}

TEST_F(CliTest, OneRunNeverReplacesItsOwnOutput) {
    RomBuilder().Title("POKEMON D").DataUpTo(8600).PadTo(10000).WriteTo(dir / "usa.nds");
    RomBuilder().Title("POKEMON D").DataUpTo(7600).PadTo(10000).WriteTo(dir / "eur.nds");
    const std::string clash =
        "error: Cannot create \"POKEMON D_trim.nds\": already written for \"usa.nds\" in this "
        "run\n";
    // The dry run foresees it.
    Result r = Run({"--dry-run", "--header-name", "usa.nds", "eur.nds"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, clash);

    r = Run({"--header-name", "--delete-source", "usa.nds", "eur.nds"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, clash);
    EXPECT_EQ(test::ReadBytes(dir / "POKEMON D_trim.nds").size(), 9100u);  // usa's
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"POKEMON D_trim.nds", "eur.nds"}));
    EXPECT_EQ(test::ReadBytes(home / "data/Trash/files/usa.nds").size(), 10000u);
    EXPECT_FALSE(fs::exists(home / "data/Trash/files/eur.nds"));

    // An output from an earlier run is replaced, as ever.
    r = Run({"--header-name", "eur.nds"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(test::ReadBytes(dir / "POKEMON D_trim.nds").size(), 8100u);
}

TEST_F(CliTest, AnOutputNeverReplacesAnotherSourceAndTheDryRunSaysSo) {
    RomBuilder().Title("B").DataUpTo(8600).PadTo(10000).WriteTo(dir / "A.nds");
    RomBuilder().Title("OTHER").DataUpTo(7600).PadTo(10000).WriteTo(dir / "B.nds");
    const auto other = test::ReadBytes(dir / "B.nds");
    const std::string clash =
        "error: Cannot create \"B.nds\": it would replace \"B.nds\", a source of this run\n";
    for (const bool dry : {true, false}) {
        std::vector<std::string> args{"--header-name", "--append", "", "A.nds", "B.nds"};
        if (dry) {
            args.insert(args.begin(), "--dry-run");
        }
        const Result r = Run(args);
        EXPECT_EQ(r.exitCode, 1) << dry;
        EXPECT_EQ(r.err, clash) << dry;
        EXPECT_EQ(test::ReadBytes(dir / "B.nds"), other) << dry;
        EXPECT_EQ(test::ReadBytes(dir / "A.nds").size(), 10000u) << dry;
    }
}

TEST_F(CliTest, AnErrorStopsTheRunUnlessKeepGoing) {
    Rom("a.nds");
    Rom("c.nds");
    Result r = Run({"a.nds", "missing.nds", "c.nds"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "error: Cannot open \"missing.nds\": No such file or directory\n");
    EXPECT_FALSE(fs::exists(dir / "c_trim.nds"));

    r = Run({"--keep-going", "a.nds", "missing.nds", "c.nds"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(fs::exists(dir / "c_trim.nds"));
    EXPECT_EQ(Lines(r.out).back().substr(0, 20), "rom 3 of 3 -> saved ");
}

#ifndef _WIN32
TEST_F(CliTest, WhatIsNoRegularFileIsRefusedWithoutWaitingOnIt) {
    // A FIFO would block an ordinary open until a writer came; a device reads
    // without end.
    for (const char* name : {"pipe.nds", "pipe.zip", "pipe.rar"}) {
        ASSERT_EQ(::mkfifo((dir / name).c_str(), 0644), 0);
    }
    fs::create_symlink("/dev/zero", dir / "zero.nds");
    Rom("last.nds");
    const Result r =
        Run({"--keep-going", "pipe.nds", "pipe.zip", "pipe.rar", "zero.nds", "last.nds"}, 20);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err,
              "error: Cannot open \"pipe.nds\": not a regular file\n"
              "error: Cannot open \"pipe.zip\": not a regular file\n"
              "error: Cannot open \"pipe.rar\": not a regular file\n"
              "error: Cannot open \"zero.nds\": not a regular file\n");
    EXPECT_TRUE(fs::exists(dir / "last_trim.nds"));
}
#endif

TEST_F(CliTest, FilesPassedOverAreNotedOnStandardError) {
    Rom("GAME.NDS");
    Rom("a.nds");
    fs::create_directory(dir / "roms");
    const std::string notes =
        "note: passed over \"GAME.NDS\": not a .nds, .zip or .rar file\n"
        "note: passed over \"roms\": a folder\n";
    for (const bool dryRun : {false, true}) {
        std::vector<std::string> args{"GAME.NDS", "roms", "a.nds"};
        if (dryRun) {
            args.insert(args.begin(), "--dry-run");
        }
        Result r = Run(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, notes);
        EXPECT_EQ(r.out.find("GAME.NDS"), std::string::npos) << r.out;  // no log line
        EXPECT_NE(r.out.find("a.nds"), std::string::npos);

        // A file named on the command line that is not there is an error, as it
        // is for a .nds file; the others are still trimmed.
        args.insert(args.end() - 1, "typo.nd");
        r = Run(args);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, notes + "note: passed over \"typo.nd\": no such file\n");
        EXPECT_NE(r.out.find("a.nds"), std::string::npos);
    }
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"GAME.NDS", "a.nds", "a_trim.nds", "roms"}));
}

TEST_F(CliTest, ARunKilledWhileItWritesLeavesNoFileBehind) {
    // A sparse image whose game data ends 512 MiB in: a long copy, made at once.
    constexpr std::int64_t kKept = std::int64_t{512} << 20;
    {
        std::ofstream image(dir / "huge.nds", std::ios::binary);
        image << "HUGEGAME" << '\0';
        image.seekp(kKept - 4096);
        image << std::string(4096, '\x42');  // wider than a byte jump: the probes meet it
    }
    fs::resize_file(dir / "huge.nds", kKept + (std::int64_t{8} << 20));
    // The kill must come before the output is complete: a run that was quicker
    // than the watch is tried again.
    bool caught = false;
    for (int attempt = 0; attempt < 3 && !caught; ++attempt) {
        caught = KillWhileWriting({"huge.nds"}, {"huge.nds"}) && !fs::exists(dir / "huge_trim.nds");
        fs::remove(dir / "huge_trim.nds");
    }
    ASSERT_TRUE(caught);
    // No hidden file of the output's size is left.
    EXPECT_EQ(dir.List(), std::vector<std::string>{"huge.nds"});
}

TEST_F(CliTest, StatusTextsGoToStandardError) {
    Rom("a.nds");
    const Result r = Run({"--status", "a.nds"});
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err,
              "500 bytes jumped. sanity check: $FF $FF $FF\nsaving to disk...\ntrim complete, file "
              "saved.\n");
}

TEST_F(CliTest, BadUsageExitsWithTwo) {
    EXPECT_EQ(Run({}).exitCode, 2);
    Rom("a.nds");
    const Result r = Run({"--byte-jump", "abc", "a.nds"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err.substr(0, 7), "error: ");
    EXPECT_EQ(Run({"--no-such-option", "a.nds"}).exitCode, 2);
    EXPECT_EQ(dir.List(), std::vector<std::string>{"a.nds"});
}

TEST_F(CliTest, HelpAndVersion) {
    Result r = Run({"--version"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "parevo-cli 1.3\n");
    r = Run({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("--byte-jump"), std::string::npos);
}

}  // namespace
}  // namespace parevo
