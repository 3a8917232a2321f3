#include "trim/trim_rom.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif
#ifndef _WIN32
#include <sys/stat.h>
#endif
#ifndef _WIN32
#include <unistd.h>
#endif

#include <csignal>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <thread>

#include "platform/errors.h"
#include "platform/file_io.h"
#include "support/rom_builder.h"
#include "support/temp_dir.h"

namespace parevo {
namespace {

namespace fs = std::filesystem;
using test::RomBuilder;
using test::TempDir;

// Moves recycled files into a folder of its own, so tests can see what went.
class FakeRecycler final : public Recycler {
  public:
    explicit FakeRecycler(std::string bin) : m_bin(std::move(bin)) {}
    RecycleResult MoveToTrash(const std::string& path) override {
        recycled.push_back(path);
        if (fail) {
            return {false, "bin is full"};
        }
        fs::rename(path, m_bin + "/" + fs::path(path).filename().string());
        return {true, {}};
    }
    std::vector<std::string> recycled;
    bool fail = false;

  private:
    std::string m_bin;
};

class FakeTick final : public TickCounter {
  public:
    std::uint32_t Milliseconds() override {
        if (ticks.empty()) {
            return last;
        }
        last = ticks.front();
        ticks.pop_front();
        return last;
    }
    std::deque<std::uint32_t> ticks;
    std::uint32_t last = 0;
};

class TrimRomTest : public ::testing::Test {
  protected:
    TrimRomTest() : recycler(bin.Path()) {
        env.AddLog = [this](const std::string& line) { log.push_back(line); };
        env.SetStatus = [this](const std::string& text) { status.push_back(text); };
        env.Options = [this] { return options; };
        env.recycler = &recycler;
        env.tick = &tick;
        env.style = PathStyle::Posix;
        env.decimalSeparator = '.';
    }

    std::string WorkedRom(const std::string& name) {
        RomBuilder().Title("SOMEGAME").DataUpTo(8600).PadTo(10000).WriteTo(dir / name);
        return dir / name;
    }

    TempDir dir;
    TempDir bin;
    FakeRecycler recycler;
    FakeTick tick;
    TrimOptions options;
    TrimEnvironment env;
    std::vector<std::string> log;
    std::vector<std::string> status;
};

TEST_F(TrimRomTest, TrimsAPlainRomWithTheLogLinesAndStatusTexts) {
    const std::string rom = WorkedRom("0123 - Some Game (E).nds");
    options.SafeTrim = false;
    tick.ticks = {1000, 1016, 2000, 3500};
    TrimRom(rom, 0, 1, env);

    EXPECT_EQ(log, (std::vector<std::string>{
                       "rom (0123 - Some ...) 1 of 1 -> trimming 2kb (20.00%), searched in 0.02s",
                       "rom 1 of 1 -> saved 0123 - Some Game (E)_trim.nds to disk in 1.50s"}));
    EXPECT_EQ(status,
              (std::vector<std::string>{"500 bytes jumped. sanity check: $FF $FF $FF",
                                        "saving to disk...", "trim complete, file saved."}));
    const auto source = test::ReadBytes(rom);
    const auto output = test::ReadBytes(dir / "0123 - Some Game (E)_trim.nds");
    EXPECT_EQ(output, std::vector<std::uint8_t>(source.begin(), source.begin() + 9000));
    EXPECT_EQ(source.size(), 10000u);
    EXPECT_TRUE(recycler.recycled.empty());
}

TEST_F(TrimRomTest, WhatAKilledRunLeftIsRemovedWhereTheRunWrites) {
    const std::string rom = WorkedRom("a.nds");
    fs::create_directory(dir / "out");
    test::WriteText(dir / ".parevo-0123456789abcdef.tmp", "left by a killed run");
    test::WriteText(dir / "out/.parevo-0123456789abcdef.tmp", "left by a killed run");
    EXPECT_EQ(RunBatch({rom}, env, {}), 0);
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"a.nds", "a_trim.nds", "out"}));
    options.CustomPath = true;
    options.Path = dir / "out";
    EXPECT_EQ(RunBatch({rom}, env, {}), 0);
    EXPECT_TRUE(fs::exists(dir / "out/a_trim.nds"));
    EXPECT_FALSE(fs::exists(dir / "out/.parevo-0123456789abcdef.tmp"));
}

TEST_F(TrimRomTest, ElapsedTimeIsAnUnsignedDifferenceThatSurvivesAWrap) {
    const std::string rom = WorkedRom("a.nds");
    tick.ticks = {0xFFFFFF00u, 0x100u, 5, 5};
    TrimRom(rom, 0, 1, env);
    EXPECT_EQ(log.at(0), "rom (a.nds) 1 of 1 -> trimming 2kb (20.00%), searched in 0.51s");
    EXPECT_EQ(log.at(1), "rom 1 of 1 -> saved a_trim.nds to disk in 0.00s");
}

TEST_F(TrimRomTest, EmptyAppendTextTrimsTheSourceInPlaceAndSkipsDeletingIt) {
    const std::string rom = WorkedRom("game.nds");
    const auto before = IdentityOf(rom);
    options.AppendText = "";
    options.DeleteSource = true;
    TrimRom(rom, 2, 3, env);
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1], "rom 3 of 3 -> saved game.nds to disk in 0.00s");
    EXPECT_EQ(log[2], "rom 3 of 3 -> skipped deleting source; output file overwrote it.");
    EXPECT_EQ(test::ReadBytes(rom).size(), 9100u);
    EXPECT_EQ(IdentityOf(rom), before);
    EXPECT_TRUE(recycler.recycled.empty());
    EXPECT_EQ(dir.List(), std::vector<std::string>{"game.nds"});
}

TEST_F(TrimRomTest, TheSameFileByAnotherNameIsNeverRecycled) {
    const std::string rom = WorkedRom("game.nds");
    options.AppendText = "";
    options.CustomPath = true;
    options.Path = dir.Path() + "/.";  // the source's own folder, spelt differently
    options.DeleteSource = true;
    TrimRom(rom, 0, 1, env);
    EXPECT_EQ(log.back(), "rom 1 of 1 -> skipped deleting source; output file overwrote it.");
    EXPECT_TRUE(recycler.recycled.empty());
    EXPECT_EQ(test::ReadBytes(rom).size(), 9100u);
}

TEST_F(TrimRomTest, DeleteSourceRecyclesTheSourceAfterWritingTheOutput) {
    const std::string rom = WorkedRom("game.nds");
    options.DeleteSource = true;
    TrimRom(rom, 0, 1, env);
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[2], "rom 1 of 1 -> deleted game.nds");
    EXPECT_EQ(recycler.recycled, std::vector<std::string>{rom});
    EXPECT_EQ(dir.List(), std::vector<std::string>{"game_trim.nds"});
    EXPECT_EQ(bin.List(), std::vector<std::string>{"game.nds"});
}

TEST_F(TrimRomTest, AFailedRecycleIsNotReportedAsDeleted) {
    const std::string rom = WorkedRom("game.nds");
    options.DeleteSource = true;
    recycler.fail = true;
    TrimRom(rom, 0, 1, env);
    EXPECT_EQ(log.back(), "rom 1 of 1 -> could not delete game.nds: bin is full");
    EXPECT_TRUE(fs::exists(rom));
}

TEST_F(TrimRomTest, LogNamesAreCutAfterTwelveCharacters) {
    TrimRom(WorkedRom("abcdefgh.nds"), 0, 1, env);
    TrimRom(WorkedRom("abcdefghi.nds"), 0, 1, env);
    EXPECT_EQ(log[0].substr(0, 20), "rom (abcdefgh.nds) 1");
    EXPECT_EQ(log[2].substr(0, 23), "rom (abcdefghi.nd...) 1");
    // The saved line names the output whole.
    EXPECT_EQ(log[3], "rom 1 of 1 -> saved abcdefghi_trim.nds to disk in 0.00s");
}

TEST_F(TrimRomTest, ARomWithoutPaddingIsNeverMadeLonger) {
    RomBuilder().DataUpTo(5000).PadTo(5000).WriteTo(dir / "full.nds");
    const auto source = test::ReadBytes(dir / "full.nds");
    TrimRom(dir / "full.nds", 6, 7, env);
    EXPECT_EQ(log[0].substr(0, 31), "rom (full.nds) 7 of 7 -> trimmi");
    EXPECT_EQ(log[1].substr(0, 10), "rom 7 of 7");
    EXPECT_EQ(test::ReadBytes(dir / "full_trim.nds"), source);
    // In place there is nothing to write at all.
    options.AppendText = "";
    const auto before = StampOf(dir / "full.nds");
    TrimRom(dir / "full.nds", 6, 7, env);
    EXPECT_EQ(StampOf(dir / "full.nds"), before);
    EXPECT_EQ(test::ReadBytes(dir / "full.nds"), source);
}

TEST_F(TrimRomTest, OtherExtensionsEndWithoutAnyLine) {
    WorkedRom("GAME.NDS");
    WorkedRom("pack.zip");
    WorkedRom("pack.rar");
    WorkedRom("notes.txt");
    for (const char* name : {"GAME.NDS", "pack.zip", "pack.rar", "notes.txt"}) {
        EXPECT_EQ(TrimRom(dir / name, 0, 1, env), TrimOutcome::PassedOver) << name;
    }
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(status.empty());
    EXPECT_EQ(dir.List().size(), 4u);
}

TEST_F(TrimRomTest, TheArchiveStepHandsOverTheExtractedRom) {
    const std::string member = WorkedRom("inner.nds");
    WorkedRom("pack.zip");
    options.DeleteSource = true;
    env.archiveStep = [&](ArchiveStepState& state, const TrimEnvironment& e) {
        e.Log("step for " + state.shortRomName);
        state.romFound = true;
        state.romPath = member;
    };
    TrimRom(dir / "pack.zip", 0, 1, env);
    ASSERT_EQ(log.size(), 5u);
    EXPECT_EQ(log[0], "step for pack.zip");
    EXPECT_EQ(log[1].substr(0, 15), "rom (inner.nds)");
    EXPECT_EQ(log[3], "rom 1 of 1 -> deleted pack.zip");
    EXPECT_EQ(log[4], "rom 1 of 1 -> deleted inner.nds");
    EXPECT_EQ(dir.List(), std::vector<std::string>{"inner_trim.nds"});  // beside the archive
}

#ifndef _WIN32
TEST_F(TrimRomTest, AnArchiveThatIsNoRegularFileNeverReachesTheComponents) {
    ASSERT_EQ(::mkfifo((dir / "pipe.zip").c_str(), 0644), 0);
    bool stepRan = false;
    env.archiveStep = [&](ArchiveStepState&, const TrimEnvironment&) { stepRan = true; };
    try {
        TrimRom(dir / "pipe.zip", 0, 1, env);
        ADD_FAILURE() << "no error";
    } catch (const IoError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot open \"" + (dir / "pipe.zip") + "\": not a regular file");
    }
    EXPECT_FALSE(stepRan);
}
#endif

TEST_F(TrimRomTest, ACustomFolderThatIsNotThereIsAnErrorBeforeAnythingIsWritten) {
    // Both front ends get this rule: the window's selected folder may vanish
    // (an unplugged stick) after it was chosen.
    const std::string rom = WorkedRom("game.nds");
    WorkedRom("pack.zip");
    options.CustomPath = true;
    options.Path = dir / "gone";
    options.AppendText = "";
    bool stepRan = false;
    env.archiveStep = [&](ArchiveStepState&, const TrimEnvironment&) { stepRan = true; };
    for (const std::string& entry : {rom, dir / "pack.zip"}) {
        try {
            TrimRom(entry, 0, 1, env);
            ADD_FAILURE() << "no error for " << entry;
        } catch (const IoError& e) {
            EXPECT_EQ(std::string(e.what()),
                      "output folder \"" + (dir / "gone") + "\" does not exist");
        }
    }
    EXPECT_FALSE(stepRan);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(test::ReadBytes(rom).size(), 10000u);
    options.Path = "";
    try {
        TrimRom(rom, 0, 1, env);
        ADD_FAILURE() << "no error without a folder";
    } catch (const IoError& e) {
        EXPECT_EQ(std::string(e.what()), "no output folder is chosen");
    }

    // Gone between the search and the write.
    options.Path = dir.Path();
    env.SetStatus = [&](const std::string& text) {
        if (text == "saving to disk...") {
            options.Path = dir / "gone";
        }
    };
    EXPECT_THROW(TrimRom(rom, 0, 1, env), IoError);
    EXPECT_EQ(test::ReadBytes(rom).size(), 10000u);
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"game.nds", "pack.zip"}));
}

TEST_F(TrimRomTest, OptionsAreReadWhenUsed) {
    const std::string rom = WorkedRom("game.nds");
    // A change made while the search runs applies to the naming that follows it.
    env.SetStatus = [this](const std::string&) { options.AppendText = "_late"; };
    TrimRom(rom, 0, 1, env);
    EXPECT_TRUE(fs::exists(dir / "game_late.nds"));
}

#ifndef _WIN32
TEST_F(TrimRomTest, AWriteThatFailsHalfWayLeavesTheSourceAndNoTemporaryFile) {
    RomBuilder().DataUpTo(600000).PadTo(700000).WriteTo(dir / "big.nds");
    const auto before = test::ReadBytes(dir / "big.nds");
    options.DeleteSource = true;

    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limited = saved;
    limited.rlim_cur = 256 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    bool threw = false;
    try {
        TrimRom(dir / "big.nds", 0, 1, env);
    } catch (const IoError& e) {
        threw = true;
        EXPECT_NE(std::string(e.what()).find("big_trim.nds"), std::string::npos) << e.what();
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_TRUE(threw);
    EXPECT_EQ(log.size(), 1u);  // the trimming line only: no "saved", no "deleted"
    EXPECT_EQ(test::ReadBytes(dir / "big.nds"), before);
    EXPECT_EQ(dir.List(), std::vector<std::string>{"big.nds"});
    EXPECT_TRUE(recycler.recycled.empty());
}
#endif

// The ROM changes after its search: another file renamed into its place, or
// more data written to it. A length found for one file must never be applied to
// another, and a file that was never trimmed never goes to the bin.
enum class Change { Replaced, Grown };

struct ChangeCase {
    const char* name;
    Change change;
    const char* when;        // the status text at which it changes
    const char* appendText;  // "" cuts the ROM in place
    const char* error;       // TrimRom's reason; none: it saves
};

const ChangeCase kChangeCases[] = {
    {"ReplacedBeforeACopy", Change::Replaced, "saving to disk...", "_trim",
     "another file took its place while it was searched"},
    {"GrownBeforeACopy", Change::Grown, "saving to disk...", "_trim",
     "the file changed while it was searched"},
    {"ReplacedBeforeACutInPlace", Change::Replaced, "saving to disk...", "",
     "another file took its place while it was searched"},
    {"GrownBeforeACutInPlace", Change::Grown, "saving to disk...", "",
     "the file changed while it was searched"},
    {"ReplacedBeforeTheDelete", Change::Replaced, "trim complete, file saved.", "_trim", nullptr},
};

void PrintTo(const ChangeCase& c, std::ostream* os) {
    *os << c.name;
}

class TrimRomChangeTest : public TrimRomTest, public ::testing::WithParamInterface<ChangeCase> {};

TEST_P(TrimRomChangeTest, OnlyTheFileSearchedIsWrittenOrRecycled) {
    const ChangeCase& c = GetParam();
    const std::string rom = WorkedRom("game.nds");
    const auto searched = test::ReadBytes(rom);
    // Game data where the old length would cut.
    auto changed = RomBuilder().Title("OTHER").DataUpTo(12000).PadTo(12500).Build();
    if (c.change == Change::Grown) {
        changed = searched;
        changed.insert(changed.end(), 3000, 0x42);
    }
    options.AppendText = c.appendText;
    options.DeleteSource = true;
    env.SetStatus = [&](const std::string& text) {
        if (text != c.when) {
            return;
        }
        if (c.change == Change::Replaced) {
            test::WriteBytes(dir / "newcomer", changed);
            fs::rename(dir / "newcomer", rom);
        } else {
            std::ofstream(rom, std::ios::binary | std::ios::app)
                .write(reinterpret_cast<const char*>(changed.data() + searched.size()),
                       static_cast<std::streamsize>(changed.size() - searched.size()));
        }
    };

    if (c.error != nullptr) {
        try {
            TrimRom(rom, 0, 1, env);
            ADD_FAILURE() << "no error";
        } catch (const IoError& e) {
            EXPECT_EQ(std::string(e.what()), "Cannot trim \"" + rom + "\": " + c.error);
        }
        EXPECT_EQ(dir.List(), std::vector<std::string>{"game.nds"});
    } else {
        TrimRom(rom, 0, 1, env);
        EXPECT_EQ(test::ReadBytes(dir / "game_trim.nds"),
                  std::vector<std::uint8_t>(searched.begin(), searched.begin() + 9100));
        EXPECT_EQ(log.back(),
                  "rom 1 of 1 -> could not delete game.nds: it is no longer the file that was "
                  "trimmed");
    }
    EXPECT_EQ(test::ReadBytes(rom), changed);
    EXPECT_TRUE(recycler.recycled.empty());
}

INSTANTIATE_TEST_SUITE_P(Changes, TrimRomChangeTest, ::testing::ValuesIn(kChangeCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A ROM of several chunks: the worker copies its game data while the search
// walks down its padding, or, cut in place with a header, checks the padding
// before the search walks it.
constexpr std::int64_t kBigSize = 6 << 20;
constexpr std::int64_t kBigData = (5 << 19) + 12345;  // 2.5 MiB and a bit

TEST_F(TrimRomTest, ALargeRomIsTrimmedWithTwoReadersWithTheSameLinesAndBytes) {
    for (const auto& [header, inPlace] : {std::pair{false, false}, std::pair{true, false},
                                          std::pair{false, true}, std::pair{true, true}}) {
        SCOPED_TRACE(std::string(header ? "header" : "no header") + (inPlace ? ", in place" : ""));
        options.AppendText = inPlace ? "" : "_trim";
        RomBuilder rom;
        rom.Title("BIGGAME").DataUpTo(kBigData).PadTo(kBigSize).MixedPadding();
        if (header) {
            rom.DeclaredUsedSize(static_cast<std::uint32_t>(kBigData + 5000));
        }
        rom.WriteTo(dir / "big.nds");
        const TrimPoint expected = FindTrimPoint(InputFile(dir / "big.nds"), 500, true, {}, '.');
        log.clear();
        status.clear();
        std::vector<std::thread::id> threads;
        env.AddLog = [&](const std::string& line) {
            threads.push_back(std::this_thread::get_id());
            log.push_back(line);
        };
        env.SetStatus = [&](const std::string& text) {
            threads.push_back(std::this_thread::get_id());
            status.push_back(text);
        };
        env.keepAlive = [&] { threads.push_back(std::this_thread::get_id()); };
        const auto source = test::ReadBytes(dir / "big.nds");
        TrimRom(dir / "big.nds", 0, 1, env);

        EXPECT_EQ(
            test::ReadBytes(dir / (inPlace ? "big.nds" : "big_trim.nds")),
            std::vector<std::uint8_t>(source.begin(), source.begin() + expected.OutputLength()));
        EXPECT_EQ(log.at(0),
                  env.Text("rom (big.nds) 1 of 1 -> trimming %dkb (%02f%%), searched in 0.00s",
                           {static_cast<long long>(expected.Distance / 1000),
                            static_cast<double>(expected.Distance) / kBigSize * 100.0}));
        EXPECT_EQ(status.size(), static_cast<size_t>((expected.Steps + 99) / 100 + 2));
        // The window's widgets are touched on its own thread only.
        EXPECT_EQ(std::count(threads.begin(), threads.end(), std::this_thread::get_id()),
                  static_cast<std::ptrdiff_t>(threads.size()));
        const std::vector<std::string> files =
            inPlace ? std::vector<std::string>{"big.nds"}
                    : std::vector<std::string>{"big.nds", "big_trim.nds"};
        EXPECT_EQ(dir.List(), files);
        std::filesystem::remove(dir / "big_trim.nds");
    }
}

// What goes wrong while the worker copies and the search checks: the output is
// never put in place, no temporary file stays, and the error is the one the
// pipeline always gave.
enum class Mishap { Grown, KeptByteRewritten, CutShort, WriteFails };

// The error and the log lines written before it (the trimming line comes
// after the search).
struct Failure {
    std::string error;
    size_t logLines;
    bool operator==(const Failure&) const = default;
};

struct MishapCase {
    const char* name;
    Mishap mishap;
    std::vector<Failure> failures;  // which one depends on who meets the change first
};

const std::string kChanged = "Cannot trim \"big.nds\": the file changed while it was searched";

const MishapCase kMishaps[] = {
    {"GrownWhileSearched", Mishap::Grown, {{kChanged, 1}}},
    {"KeptByteRewrittenWhileSearched", Mishap::KeptByteRewritten, {{kChanged, 1}}},
    // The search meets the shorter file, unless the worker has read those
    // chunks already; then the check before the output is put in place meets
    // the change. The old reader gave either, by when the file was cut.
    {"CutShortWhileSearched",
     Mishap::CutShort,
     {{"Cannot read \"big.nds\": the file got shorter while it was searched", 0}, {kChanged, 1}}},
    {"WriteFailsWhileTheWorkerCopies",
     Mishap::WriteFails,
     {{"Cannot write \"big_trim.nds\": File too large", 1}}},
};

void PrintTo(const MishapCase& c, std::ostream* os) {
    *os << c.name;
}

class TrimRomMishapTest : public TrimRomTest, public ::testing::WithParamInterface<MishapCase> {};

#ifndef _WIN32
TEST_P(TrimRomMishapTest, NothingIsPutInPlaceAndNothingStays) {
    const MishapCase& c = GetParam();
    const std::string rom = dir / "big.nds";
    RomBuilder().Title("BIGGAME").DataUpTo(kBigData).PadTo(kBigSize).WriteTo(rom);
    const auto before = test::ReadBytes(rom);
    bool done = false;
    env.SetStatus = [&](const std::string&) {
        // At the first status text the search has read one chunk and the worker
        // is under way.
        if (done) {
            return;
        }
        done = true;
        if (c.mishap == Mishap::Grown) {
            std::ofstream(rom, std::ios::binary | std::ios::app) << "more";
        } else if (c.mishap == Mishap::KeptByteRewritten) {
            std::fstream(rom, std::ios::binary | std::ios::in | std::ios::out).seekp(1000).put('x');
        } else if (c.mishap == Mishap::CutShort) {
            fs::resize_file(rom, 4 << 20);
        }
    };
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    if (c.mishap == Mishap::WriteFails) {
        rlimit limited = saved;
        limited.rlim_cur = 1 << 20;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    }
    std::string error;
    try {
        TrimRom(rom, 0, 1, env);
    } catch (const IoError& e) {
        error = e.what();
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    // The texts name the files by their full paths.
    for (const std::string name : {"big_trim.nds", "big.nds"}) {
        if (const size_t at = error.find(dir / name); at != std::string::npos) {
            error.replace(at, (dir / name).size(), name);
        }
    }
    const Failure failure{error, log.size()};
    EXPECT_NE(std::find(c.failures.begin(), c.failures.end(), failure), c.failures.end())
        << failure.error << " after " << failure.logLines << " log lines";
    EXPECT_EQ(dir.List(), std::vector<std::string>{"big.nds"});
    if (c.mishap == Mishap::WriteFails) {
        EXPECT_EQ(test::ReadBytes(rom), before);
    }
}

INSTANTIATE_TEST_SUITE_P(Mishaps, TrimRomMishapTest, ::testing::ValuesIn(kMishaps),
                         [](const auto& info) { return std::string(info.param.name); });
#endif

TEST_F(TrimRomTest, AMissingSourceIsAnErrorWithoutLogLines) {
    EXPECT_THROW(TrimRom(dir / "missing.nds", 0, 1, env), IoError);
    EXPECT_TRUE(log.empty());
}

TEST_F(TrimRomTest, TheGuardsRaiseTheWrittenLength) {
    RomBuilder().DataUpTo(8600).PadTo(10000).Poke(9100, 0x42).WriteTo(dir / "g.nds");
    options.SafeTrim = false;
    TrimRom(dir / "g.nds", 0, 1, env);
    // The statistics stay those of the search; the output keeps the data byte.
    EXPECT_EQ(log[0].substr(0, 40), "rom (g.nds) 1 of 1 -> trimming 2kb (20.0");
    EXPECT_EQ(test::ReadBytes(dir / "g_trim.nds").size(), 9101u);
}

TEST_F(TrimRomTest, AHeaderTitleNeverLeadsOutOfTheOutputFolder) {
    std::filesystem::create_directory(dir / "roms");
    for (const char* title : {"../escaped", "/tmp/absolute", "sub/dir"}) {
        RomBuilder().Title(title).DataUpTo(8600).PadTo(10000).WriteTo(dir / "roms/g.nds");
        options.HeaderRomName = true;
        EXPECT_THROW(TrimRom(dir / "roms/g.nds", 0, 1, env), IoError) << title;
    }
    EXPECT_EQ(dir.List(), std::vector<std::string>{"roms"});
    EXPECT_FALSE(fs::exists("/tmp/absolute_trim.nds"));
    // Windows also takes "\\" and ":" as separators.
    env.style = PathStyle::Windows;
    RomBuilder().Title("C:evil").DataUpTo(8600).PadTo(10000).WriteTo(dir / "w.nds");
    EXPECT_THROW(TrimRom(dir / "w.nds", 0, 1, env), IoError);
}

TEST_F(TrimRomTest, ARunNeverReplacesAnOutputItWroteItself) {
    // Two regions of one game share the header title; the second names its ROM's
    // folder in another spelling, so only the file identity tells the clash.
    RomBuilder().Title("POKEMON D").DataUpTo(8600).PadTo(10000).WriteTo(dir / "usa.nds");
    RomBuilder().Title("POKEMON D").DataUpTo(7600).PadTo(10000).WriteTo(dir / "eur.nds");
    const std::string third = WorkedRom("third.nds");
    const auto usa = test::ReadBytes(dir / "usa.nds");
    const std::vector<std::string> entries{dir / "usa.nds", dir.Path() + "/./eur.nds", third};
    options.HeaderRomName = true;
    options.DeleteSource = true;
    BatchCallbacks callbacks;
    try {
        RunBatch(entries, env, callbacks);
        ADD_FAILURE() << "no error";
    } catch (const IoError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create \"" + dir.Path() +
                                             "/./POKEMON D_trim.nds\": already written for \"" +
                                             (dir / "usa.nds") + "\" in this run");
    }
    EXPECT_EQ(test::ReadBytes(dir / "POKEMON D_trim.nds"),
              std::vector<std::uint8_t>(usa.begin(), usa.begin() + 9100));
    EXPECT_EQ(recycler.recycled, std::vector<std::string>{dir / "usa.nds"});
    EXPECT_TRUE(fs::exists(dir / "eur.nds"));
    EXPECT_FALSE(fs::exists(dir / "SOMEGAME_trim.nds"));  // the run stopped

    // Each run starts afresh: the earlier run's output is replaced. Going on, a
    // clash (a ROM listed twice) fails its entry alone.
    std::vector<int> failed;
    callbacks.keepGoing = true;
    callbacks.entryFailed = [&](int i, const std::exception&) { failed.push_back(i); };
    EXPECT_EQ(RunBatch({dir / "eur.nds", third, third}, env, callbacks), 1);
    EXPECT_EQ(failed, std::vector<int>{2});
    EXPECT_EQ(test::ReadBytes(dir / "POKEMON D_trim.nds").size(), 8100u);
    EXPECT_TRUE(fs::exists(dir / "SOMEGAME_trim.nds"));
}

// No output of a run replaces a file the run reads, whatever name leads there.
TEST_F(TrimRomTest, ARunNeverReplacesOneOfItsSources) {
    struct Case {
        const char* what;
        std::function<void()> arrange;  // after a.nds (title "B") and B.nds exist
        std::vector<std::string> entries;
        std::string output;  // what the first entry's output would have replaced
        std::string source;  // as the run names it
    };
    const std::string a = dir / "a.nds";
    const std::string b = dir / "B.nds";
    const std::vector<Case> cases{
        {"a header title that is another source's name",
         [&] {
             options.HeaderRomName = true;
             options.AppendText = "";
         },
         {a, b},
         dir / "B.nds",
         b},
        {"an append text that makes another source's name",
         [&] { fs::copy_file(b, dir / "a_x.nds"); },
         {a, dir / "a_x.nds"},
         dir / "a_x.nds",
         dir / "a_x.nds"},
        {"a custom folder holding a source of the same name",
         [&] {
             fs::create_directory(dir / "out");
             fs::copy_file(b, dir / "out/a.nds");
             options.CustomPath = true;
             options.Path = dir / "out";
             options.AppendText = "";
         },
         {a, dir / "out/a.nds"},
         dir / "out/a.nds",
         dir / "out/a.nds"},
        {"a link named like the output that leads to the source",
         [&] { fs::create_symlink(a, dir / "a_x.nds"); },
         {a},
         dir / "a_x.nds",
         a},
        {"a hard link named like the output",
         [&] { fs::create_hard_link(a, dir / "a_x.nds"); },
         {a},
         dir / "a_x.nds",
         a},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& entry : fs::directory_iterator(dir.Path())) {
            fs::remove_all(entry.path());
        }
        RomBuilder().Title("B").DataUpTo(8600).PadTo(10000).WriteTo(a);
        RomBuilder().Title("OTHER").DataUpTo(7600).PadTo(10000).WriteTo(b);
        options = TrimOptions{};
        options.AppendText = "_x";
        c.arrange();
        // Every file under the folder, links as they are, with its bytes.
        auto contents = [&] {
            std::map<std::string, std::vector<std::uint8_t>> all;
            for (const auto& f : fs::recursive_directory_iterator(dir.Path())) {
                if (!f.is_directory()) {
                    all[f.path().string() + (f.is_symlink() ? " (link)" : "")] =
                        test::ReadBytes(f.path().string());
                }
            }
            return all;
        };
        const auto before = contents();
        try {
            RunBatch(c.entries, env, {});
            ADD_FAILURE() << "no error";
        } catch (const IoError& e) {
            EXPECT_EQ(std::string(e.what()), "Cannot create \"" + c.output +
                                                 "\": it would replace \"" + c.source +
                                                 "\", a source of this run");
        }
        EXPECT_EQ(contents(), before);
    }
}

TEST_F(TrimRomTest, ARomListedTwiceIsCutInPlaceTwice) {
    // Its own output, cut again: nothing is replaced.
    const std::string rom = WorkedRom("game.nds");
    options.AppendText = "";
    EXPECT_EQ(RunBatch({rom, rom}, env, {}), 0);
    EXPECT_EQ(log.at(3), "rom 2 of 2 -> saved game.nds to disk in 0.00s");
}

TEST_F(TrimRomTest, RunBatchStopsAtTheFirstErrorUnlessToldToGoOn) {
    const std::string a = WorkedRom("a.nds");
    const std::string c = WorkedRom("c.nds");
    const std::vector<std::string> entries{a, dir / "missing.nds", c};
    std::vector<int> done;
    BatchCallbacks callbacks;
    callbacks.entryDone = [&](int i) { done.push_back(i); };
    EXPECT_THROW(RunBatch(entries, env, callbacks), IoError);
    EXPECT_EQ(done, std::vector<int>{0});
    EXPECT_FALSE(fs::exists(dir / "c_trim.nds"));

    done.clear();
    std::vector<int> failed;
    callbacks.keepGoing = true;
    callbacks.entryFailed = [&](int i, const std::exception&) { failed.push_back(i); };
    EXPECT_EQ(RunBatch(entries, env, callbacks), 1);
    EXPECT_EQ(done, (std::vector<int>{0, 2}));
    EXPECT_EQ(failed, std::vector<int>{1});
    EXPECT_EQ(log.back().substr(0, 20), "rom 3 of 3 -> saved ");
}

}  // namespace
}  // namespace parevo
