// RarComponent driven against the real RAR library on archives written byte by byte
// (and the real-world fixtures where a case needs compression or volumes).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "archive/rar_component.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "support/rar_builder.h"
#include "support/temp_dir.h"

namespace parevo {
namespace {

namespace fs = std::filesystem;
using test::RarBuilder;
using test::RarMember;
using test::TempDir;

const char kSep = PathSeparator(NativePathStyle());

std::string LibraryPath() {
    return std::string(PAREVO_BIN_DIR) + "/" + UnRarLibraryFileName();
}
std::string FixturePath(const std::string& name) {
    return std::string(PAREVO_FIXTURES_DIR) + "/rar/" + name;
}
std::string Native(std::string name) {
    for (char& c : name) {
        if (c == '\\' || c == '/') {
            c = kSep;
        }
    }
    return name;
}
std::vector<std::uint8_t> Bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

// Records every event, in order, as one line each.
struct Recorder {
    std::vector<std::string> events;
    std::vector<RarMemberHeader> headers;
    std::vector<std::string> errors;

    void Attach(RarComponent& rar, bool headerEvents = true) {
        rar.OnRarStatus = [this](RarComponent&, const std::string& m, RarStatus s) {
            events.push_back("status " + std::to_string(static_cast<int>(s)) + " " + m);
        };
        rar.OnError = [this](RarComponent&, const std::string& m, std::int32_t id) {
            events.push_back("error " + std::to_string(id) + " " + m);
            errors.push_back(m);
        };
        if (headerEvents) {
            rar.OnFileProcessing = [this](RarComponent&, RarMemberHeader h, std::int32_t status) {
                events.push_back("file " + h.FileName + " " + std::to_string(status));
                headers.push_back(h);
            };
        }
    }
    std::size_t Count(const std::string& prefix) const {
        return std::count_if(events.begin(), events.end(),
                             [&](const std::string& e) { return e.rfind(prefix, 0) == 0; });
    }
};

class FakePrompter : public Prompter {
  public:
    DialogResult ShowMessage(const std::string&, const std::string&, DialogButtons, DialogIcon,
                             int) override {
        return DialogResult::Ok;
    }
    InputResult AskText(const std::string& caption, const std::string& prompt,
                        const std::string& initial, bool masked) override {
        asked.push_back({caption, prompt, initial, masked});
        return answer;
    }
    struct Question {
        std::string caption, prompt, initial;
        bool masked;
    };
    std::vector<Question> asked;
    InputResult answer;
};

class RarComponentTest : public ::testing::Test {
  protected:
    RarComponentTest() : rar(LibraryPath()) {
        rar.SetCanProgress(true);
        rar.SetMode(RarMode::Extract);
        rar.SetOverrideEvent(OverridePolicy::Always);
        rar.SetDirectory(dir.Path());
    }
    std::string Archive(const RarBuilder& builder, const std::string& name = "a.rar") {
        const std::string path = dir / name;
        builder.WriteTo(path);
        rar.SetFileName(path);
        return path;
    }
    static RarBuilder Typical() {
        RarBuilder b;
        b.AddText("readme.txt", "hello")
            .AddFile("sub\\game.nds", std::vector<std::uint8_t>(3000, 0xAB));
        b.AddText("extra\\other.nds", "second rom");
        return b;
    }

    TempDir dir;
    RarComponent rar;
    Recorder rec;
};

TEST(RarComponentLoad, FindsTheLibraryByBareNameBesideTheProgram) {
    RarComponent rar;
    EXPECT_TRUE(rar.DllLoaded());
    EXPECT_EQ(rar.DllVersion(), 10);
    EXPECT_EQ(rar.Mode(), RarMode::Extract);
    EXPECT_EQ(rar.OverrideEvent(), OverridePolicy::Always);
    EXPECT_FALSE(rar.CanProgress());
    EXPECT_TRUE(rar.FileList().empty());
}

TEST(RarComponentLoad, AMissingLibraryOrOneLackingEntryPointsOnlyReportsNotLoaded) {
    for (const std::string& name :
         {std::string("libparevo-no-such-unrar.so"), std::string("libz.so.1")}) {
        RarComponent rar(name);
        EXPECT_FALSE(rar.DllLoaded()) << name;
        EXPECT_EQ(rar.DllVersion(), 0);
        Recorder rec;
        rec.Attach(rar);
        rar.OnProgress = [&](RarComponent&, auto...) { rec.events.push_back("progress"); };
        rar.SetCanProgress(true);
        rar.SetFileName("whatever.rar");
        rar.SetStopProcessing(true);
        rar.Extract();
        EXPECT_EQ(rec.events, std::vector<std::string>{"error 0 UnRar.Dll not loaded"});
        EXPECT_FALSE(rar.StopProcessing());
    }
}

TEST_F(RarComponentTest, ListingReportsEveryMemberAndWritesNothing) {
    Archive(Typical());
    rar.SetMode(RarMode::List);
    rec.Attach(rar);
    rar.Extract();
    EXPECT_EQ(rec.events,
              (std::vector<std::string>{"status 1 ", "status 0 ", "status 2 ",  // counting pass
                                        "status 1 ", "status 0 ", "file readme.txt 0",
                                        "file " + Native("sub\\game.nds") + " 0",
                                        "file " + Native("extra\\other.nds") + " 0", "status 2 "}));
    EXPECT_EQ(dir.List(), std::vector<std::string>{"a.rar"});
}

TEST_F(RarComponentTest, ListingCollectsRomMembersThroughTheFilter) {
    RarBuilder b;
    b.AddText("readme.txt", "x").AddText("game.nds", "1").AddText("GAME.NDS", "2");
    b.AddText("extra\\other.nds", "3").AddText("game.nds.bak", "4");
    Archive(b);
    rar.SetMode(RarMode::List);
    rar.FileList() = {};
    rar.OnFileProcessing = [](RarComponent& sender, RarMemberHeader h, std::int32_t) {
        CollectRomMember(h, sender.FileList());
    };
    rar.Extract();
    EXPECT_EQ(rar.FileList(), (std::vector<std::string>{"game.nds", Native("extra\\other.nds")}));
}

TEST_F(RarComponentTest, HeaderRecordIsFilledFieldByField) {
    RarBuilder b;
    RarMember m;
    m.name = "game.nds";
    m.data = Bytes("rom bytes here");
    m.dosTime = test::DosDateTime(2007, 10, 9, 8, 35, 8);
    m.attributes = 0x20 | 0x01 | 0x02;
    b.Add(m);
    b.AddFolder("sub");
    RarMember odd;  // a host and a method outside the known ranges
    odd.name = "odd.bin";
    odd.hostOS = 5;  // BeOS
    odd.method = 0x3A;
    odd.unpVer = 29;
    odd.dosTime = 0;  // no such date: the time stays as it was
    b.Add(odd);
    Archive(b);
    rar.SetMode(RarMode::List);
    rec.Attach(rar);
    rar.Extract();
    ASSERT_EQ(rec.headers.size(), 3u);
    const RarMemberHeader& h = rec.headers[0];
    EXPECT_EQ(h.ArcName, rar.FileName());
    EXPECT_EQ(h.HostOS, "Windows");
    EXPECT_EQ(h.Method, "pas de compression");
    char crc[16];
    std::snprintf(crc, sizeof crc, "%X", test::Crc32(m.data.data(), m.data.size()));
    EXPECT_EQ(h.FileCRC, crc);
    EXPECT_DOUBLE_EQ(h.FileTime, 39364 + (8 * 3600 + 35 * 60 + 8) / 86400.0);
    EXPECT_EQ(h.UnpVerMajor, 2);
    EXPECT_EQ(h.UnpVerMinor, 0);
    EXPECT_EQ(h.UnpSize, m.data.size());
    EXPECT_EQ(h.PackSize, m.data.size());
    EXPECT_TRUE(h.AttrArchive && h.AttrReadOnly && h.AttrHidden);
    EXPECT_FALSE(h.AttrSystem || h.AttrDirectory || h.IsFolder || h.Encrypted);
    EXPECT_FALSE(h.ContinuedFromPrev || h.ContinuedOnNext);

    EXPECT_TRUE(rec.headers[1].IsFolder);
    EXPECT_TRUE(rec.headers[1].AttrDirectory);

    const RarMemberHeader& o = rec.headers[2];
    EXPECT_EQ(o.HostOS, "Windows");
    EXPECT_EQ(o.Method, "pas de compression");
    EXPECT_EQ(o.FileTime, rec.headers[1].FileTime);
    EXPECT_EQ(o.UnpVerMajor, 2);
    EXPECT_EQ(o.UnpVerMinor, 9);
    EXPECT_EQ(o.FileCRC, "0");  // no leading zeros
}

TEST_F(RarComponentTest, ExtractionWithAlwaysWritesEveryMemberWhateverTheFileList) {
    Archive(Typical());
    test::WriteText(dir / "readme.txt", "old content that is longer");
    rar.FileList() = {"nothing that matches"};
    rec.Attach(rar);
    rar.Extract();
    EXPECT_TRUE(rec.errors.empty()) << (rec.errors.empty() ? "" : rec.errors[0]);
    EXPECT_EQ(test::ReadText(dir / "readme.txt"), "hello");
    EXPECT_EQ(test::ReadBytes(dir / "sub/game.nds"), std::vector<std::uint8_t>(3000, 0xAB));
    EXPECT_EQ(test::ReadText(dir / "extra/other.nds"), "second rom");
}

TEST_F(RarComponentTest, ANewComponentSkipsEntriesUntilModeIsWritten) {
    Archive(Typical());
    RarComponent fresh(LibraryPath());
    fresh.SetFileName(rar.FileName());
    fresh.SetDirectory(dir.Path());
    fresh.Extract();
    EXPECT_EQ(dir.List(), std::vector<std::string>{"a.rar"});
    fresh.SetMode(RarMode::Extract);
    fresh.Extract();
    EXPECT_TRUE(FileExists(dir / "readme.txt"));
}

TEST_F(RarComponentTest, CountingPassGivesTotalsAndProgressCountsHeaderEvents) {
    RarBuilder b = Typical();
    b.AddFolder("sub");
    Archive(b);
    std::vector<std::vector<std::uint32_t>> progress;
    rar.OnProgress = [&](RarComponent&, std::uint32_t fp, std::uint32_t fc, std::uint32_t sp,
                         std::uint32_t sc) {
        progress.push_back({fp, fc, sp, sc});
    };
    rar.SetMode(RarMode::List);
    rar.Extract();
    const std::uint32_t total = 5 + 3000 + 10;
    EXPECT_EQ(progress,
              (std::vector<std::vector<std::uint32_t>>{
                  {1, 4, 1, total}, {2, 4, 2, total}, {3, 4, 3, total}, {4, 4, 4, total}}));
    // Without the counting pass the totals stay as the last pass left them.
    progress.clear();
    rar.SetCanProgress(false);
    rar.Extract();
    ASSERT_EQ(progress.size(), 4u);
    EXPECT_EQ(progress[0], (std::vector<std::uint32_t>{1, 4, 1, total}));
}

TEST_F(RarComponentTest, StopInFileProcessingEndsBeforeThatEntryAndStillCloses) {
    Archive(Typical());
    rec.Attach(rar);
    auto record = rar.OnFileProcessing;
    rar.OnFileProcessing = [&](RarComponent& sender, RarMemberHeader h, std::int32_t s) {
        record(sender, h, s);
        if (h.FileName == Native("sub\\game.nds")) {
            sender.SetStopProcessing(true);
        }
    };
    rar.Extract();
    EXPECT_TRUE(FileExists(dir / "readme.txt"));
    EXPECT_FALSE(fs::exists(dir / "sub/game.nds"));
    EXPECT_FALSE(fs::exists(dir / "extra"));
    ASSERT_GE(rec.events.size(), 2u);
    EXPECT_EQ(rec.events[rec.events.size() - 2], "file " + Native("sub\\game.nds") + " 0");
    EXPECT_EQ(rec.events.back(), "status 2 ");
    EXPECT_TRUE(rar.StopProcessing());
    // The next run starts afresh.
    rar.OnFileProcessing = nullptr;
    rar.Extract();
    EXPECT_TRUE(FileExists(dir / "extra/other.nds"));
}

TEST_F(RarComponentTest, NeverSkipsUnlistedEntriesAndExistingFiles) {
    Archive(Typical());
    test::WriteText(dir / "readme.txt", "keep me");
    rar.SetOverrideEvent(OverridePolicy::Never);
    const std::string base = dir.Path();
    rar.FileList() = {base + kSep + "README.TXT", base + kSep + Native("extra\\other.nds")};
    rar.Extract();
    EXPECT_EQ(test::ReadText(dir / "readme.txt"), "keep me");
    EXPECT_EQ(test::ReadText(dir / "extra/other.nds"), "second rom");
    EXPECT_FALSE(fs::exists(dir / "sub"));
    // An empty list lets everything through except what exists.
    rar.FileList().clear();
    rar.Extract();
    EXPECT_EQ(test::ReadText(dir / "readme.txt"), "keep me");
    EXPECT_TRUE(FileExists(dir / "sub/game.nds"));
}

TEST_F(RarComponentTest, EventPolicyAsksBeforeReplacing) {
    Archive(Typical());
    test::WriteText(dir / "readme.txt", "keep me");
    rar.SetOverrideEvent(OverridePolicy::Ask);
    std::vector<std::string> asked;
    bool answer = false;
    rar.Extract();  // unbound: nothing replaced
    EXPECT_EQ(test::ReadText(dir / "readme.txt"), "keep me");
    rar.OnOverride = [&](RarComponent&, const std::string& name, bool& can) {
        asked.push_back(name);
        EXPECT_FALSE(can);
        can = answer;
    };
    rar.Extract();
    EXPECT_EQ(test::ReadText(dir / "readme.txt"), "keep me");
    answer = true;
    rar.Extract();
    EXPECT_EQ(test::ReadText(dir / "readme.txt"), "hello");
    ASSERT_FALSE(asked.empty());
    EXPECT_EQ(asked.front(), dir.Path() + kSep + "readme.txt");
}

TEST_F(RarComponentTest, PasswordRequestWithNothingBound) {
    RarBuilder b;
    RarMember m;
    m.name = "secret.nds";
    m.data = Bytes("0123456789abcdef");
    m.encrypted = true;
    b.Add(m);
    Archive(b);
    rec.Attach(rar, false);
    rar.Extract();
    EXPECT_EQ(rec.events,
              (std::vector<std::string>{"status 1 ", "status 0 ", "status 2 ", "status 1 ",
                                        "status 0 ", "error 0 Pas de mot de passe!",
                                        "status 3 Le mot de passe utilisé est : ", "status 2 "}));
    EXPECT_FALSE(fs::exists(dir / "secret.nds"));
}

TEST_F(RarComponentTest, PasswordFromTheEventOrTheDialogReachesTheLibrary) {
    RarBuilder b;
    RarMember m;
    m.name = "secret.nds";
    m.data = Bytes("0123456789abcdef");
    m.encrypted = true;
    b.Add(m);
    Archive(b);
    rec.Attach(rar, false);
    rar.OnPassword = [](RarComponent&, std::string& pw) {
        EXPECT_EQ(pw, "");
        pw = "guess";
    };
    rar.Extract();
    // The library got a password it cannot use, which it reports as a format
    // it does not know rather than as a missing password.
    EXPECT_EQ(rec.errors, std::vector<std::string>{"format inconnu"});
    EXPECT_EQ(rec.Count("status 3 Le mot de passe utilisé est : "), 1u);

    FakePrompter prompter;
    prompter.answer = {false, "typed"};
    rar.OnPassword = nullptr;
    rar.SetPromptForPass(true);
    rar.SetPrompter(&prompter);
    rec.errors.clear();
    rar.Extract();
    ASSERT_EQ(prompter.asked.size(), 1u);
    EXPECT_EQ(prompter.asked[0].caption, "Mot de passe : ...");
    EXPECT_TRUE(prompter.asked[0].masked);
    EXPECT_EQ(rec.errors, std::vector<std::string>{"format inconnu"});
}

TEST_F(RarComponentTest, CommentOfEachOpenIsReported) {
    RarBuilder b = Typical();
    b.Comment("Bienvenue, 2 ROMs");
    Archive(b);
    std::vector<std::string> comments;
    rar.OnComment = [&](RarComponent&, const std::string& c) { comments.push_back(c); };
    rar.Extract();
    EXPECT_EQ(comments, (std::vector<std::string>{"Bienvenue, 2 ROMs", "Bienvenue, 2 ROMs"}));
    EXPECT_EQ(rar.ArchivComment(), "Bienvenue, 2 ROMs");
    EXPECT_EQ(rar.CommentSize(), 17u);

    // A packed comment the library cannot read is reported, and the run goes on.
    RarBuilder packed = Typical();
    packed.Comment("\x13\x37 packed bytes", 0x33);
    Archive(packed, "packed.rar");
    comments.clear();
    rec.Attach(rar, false);
    rar.Extract();
    EXPECT_TRUE(comments.empty());
    EXPECT_EQ(rar.ArchivComment(), "Bienvenue, 2 ROMs");  // the state of 14 leaves it as it was
    EXPECT_EQ(rec.Count("error 14 format inconnu"), 2u);
    EXPECT_TRUE(FileExists(dir / "extra/other.nds"));

    RarBuilder none = Typical();
    Archive(none, "none.rar");
    rar.Extract();
    EXPECT_EQ(rar.ArchivComment(), "");
    EXPECT_EQ(rar.CommentSize(), 0u);
}

TEST_F(RarComponentTest, AFailedOpenEndsTheRunAfterItsStatusEvents) {
    rar.SetFileName(dir / "missing.rar");
    rec.Attach(rar);
    rar.Extract();
    ASSERT_EQ(rec.events.size(), 3u);
    EXPECT_EQ(rec.events[0], "status 1 ");
    EXPECT_EQ(rec.events[1], "status 0 ");
    EXPECT_EQ(rec.events[2].rfind("error 15 Impossible d'ouvrir l'archive", 0), 0u)
        << rec.events[2];

    test::WriteText(dir / "not.rar", "just some text, no archive");
    rar.SetFileName(dir / "not.rar");
    rar.SetCanProgress(false);
    rec.events.clear();
    rar.Extract();
    ASSERT_EQ(rec.events.size(), 3u);
    EXPECT_EQ(rec.events[2].rfind("error 13 ", 0), 0u) << rec.events[2];
}

TEST_F(RarComponentTest, ADamagedHeaderEndsTheRunInsteadOfRepeatingForEver) {
    RarBuilder b;
    b.AddText("first.txt", "fine").AddText("second.nds", "broken header").BreakLastHeaderCrc();
    b.AddText("third.txt", "never reached");
    Archive(b);
    rec.Attach(rar);
    rar.Extract();
    EXPECT_TRUE(FileExists(dir / "first.txt"));
    EXPECT_FALSE(fs::exists(dir / "third.txt"));
    EXPECT_EQ(rec.errors, (std::vector<std::string>{"Entête de fichier corrompu",
                                                    "Entête de fichier corrompu"}));
    EXPECT_EQ(rec.events.back(), "status 2 ");
}

TEST_F(RarComponentTest, DamagedDataEndsTheRunWithItsError) {
    if (!fs::exists(FixturePath("test_read_format_rar_invalid1.rar"))) {
        FAIL() << "fixtures missing (tests/fixtures)";
    }
    rar.SetFileName(FixturePath("test_read_format_rar_invalid1.rar"));
    test::WriteText(dir / "test", "existing");
    rec.Attach(rar);
    rar.Extract();
    EXPECT_EQ(rec.errors, std::vector<std::string>{"données corrompues"});
    EXPECT_EQ(rec.events.back(), "status 2 ");
    EXPECT_EQ(test::ReadText(dir / "test"), "existing");  // a failed extraction replaces nothing
}

TEST_F(RarComponentTest, AnExceptionFromAHandlerClosesTheArchiveAndTravelsOn) {
    Archive(Typical());
    rec.Attach(rar);
    rar.OnFileProcessing = [](RarComponent&, RarMemberHeader, std::int32_t) {
        throw std::runtime_error("boom");
    };
    EXPECT_THROW(rar.Extract(), std::runtime_error);
    EXPECT_EQ(rec.events.back(), "status 2 ");

    // Thrown inside the library's callback: held until the library returns.
    RarBuilder b;
    RarMember m;
    m.name = "secret.nds";
    m.data = Bytes("0123456789abcdef");
    m.encrypted = true;
    b.Add(m);
    Archive(b, "enc.rar");
    rar.OnFileProcessing = nullptr;
    rar.OnPassword = [](RarComponent&, std::string&) { throw std::runtime_error("no"); };
    rec.events.clear();
    EXPECT_THROW(rar.Extract(), std::runtime_error);
    EXPECT_EQ(rec.events.back(), "status 2 ");

    // Thrown by the status event right after the library opened the archive.
    rar.OnPassword = nullptr;
    std::vector<RarStatus> statuses;
    rar.OnRarStatus = [&](RarComponent&, const std::string&, RarStatus s) {
        statuses.push_back(s);
        if (s == RarStatus::Open) {
            throw std::runtime_error("status");
        }
    };
    EXPECT_THROW(rar.Extract(), std::runtime_error);
    EXPECT_EQ(statuses, (std::vector<RarStatus>{RarStatus::BeforeOpen, RarStatus::Open,
                                                RarStatus::AfterClose}));
}

TEST_F(RarComponentTest, ADamagedMemberEndsTheRunWithItsErrorAndLeavesNoFile) {
    RarBuilder b;
    b.AddText("readme.txt", "hello").AddFile("game.nds", Bytes("ROM BYTES, ONE OF THEM FLIPPED"));
    auto bytes = b.Build();
    test::FlipFirst(bytes, "FLIPPED");
    test::WriteBytes(dir / "a.rar", bytes);
    rar.SetFileName(dir / "a.rar");
    test::WriteText(dir / "game.nds", "an older file");
    rec.Attach(rar);
    // Listing reads no data: the member is listed.
    rar.SetMode(RarMode::List);
    rar.Extract();
    EXPECT_TRUE(rec.errors.empty());
    EXPECT_EQ(rec.Count("file game.nds 0"), 1u);
    rar.SetMode(RarMode::Extract);
    rar.Extract();
    EXPECT_EQ(rec.errors, std::vector<std::string>{"données corrompues"});
    EXPECT_EQ(test::ReadText(dir / "game.nds"), "an older file");
    EXPECT_EQ(test::ReadText(dir / "readme.txt"), "hello");
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"a.rar", "game.nds", "readme.txt"}));
}

TEST_F(RarComponentTest, AMemberGoingOnInAMissingVolumeIsAVolumeError) {
    if (!fs::exists(FixturePath("test_read_format_rar5_multiarchive.part01.rar"))) {
        FAIL() << "fixtures missing (tests/fixtures)";
    }
    fs::copy_file(FixturePath("test_read_format_rar5_multiarchive.part01.rar"),
                  dir / "set.part01.rar");
    rar.SetFileName(dir / "set.part01.rar");
    rec.Attach(rar);
    rar.SetMode(RarMode::List);
    rar.Extract();
    EXPECT_EQ(rec.errors, std::vector<std::string>{"Volumn-Error"});
    ASSERT_EQ(rec.headers.size(), 1u);
    EXPECT_TRUE(rec.headers[0].ContinuedOnNext);
    EXPECT_FALSE(rec.headers[0].ContinuedFromPrev);
    EXPECT_EQ(rec.headers[0].UnpSize, 144608u);
    rec.errors.clear();
    rar.SetMode(RarMode::Extract);
    rar.Extract();
    EXPECT_EQ(rec.errors, std::vector<std::string>{"Volumn-Error"});
    EXPECT_EQ(dir.List(), std::vector<std::string>{"set.part01.rar"});
}

TEST_F(RarComponentTest, ASolidEncryptedRar5ArchiveIsListedWhole) {
    if (!fs::exists(FixturePath("test_read_format_rar5_solid_encrypted.rar"))) {
        FAIL() << "fixtures missing (tests/fixtures)";
    }
    rar.SetFileName(FixturePath("test_read_format_rar5_solid_encrypted.rar"));
    rar.SetMode(RarMode::List);
    rec.Attach(rar);
    rar.Extract();
    EXPECT_TRUE(rec.errors.empty());
    ASSERT_EQ(rec.headers.size(), 4u);
    EXPECT_EQ(rec.headers[3].FileName, "d.txt");
    EXPECT_TRUE(rec.headers[3].Encrypted);
}

class RarVolumes : public RarComponentTest {
  protected:
    void SetUp() override {
        if (!fs::exists(FixturePath("test_rar_multivolume_single_file.part1.rar"))) {
            FAIL() << "fixtures missing (tests/fixtures)";
        }
        for (int i = 1; i <= 3; ++i) {
            const std::string name = "set.part" + std::to_string(i) + ".rar";
            fs::copy_file(
                FixturePath("test_rar_multivolume_single_file.part" + std::to_string(i) + ".rar"),
                dir / name);
        }
        fs::rename(dir / "set.part2.rar", dir / "moved.rar");
        rar.SetFileName(dir / "set.part1.rar");
        rec.Attach(rar, false);
    }
    bool Extracted() const {
        return fs::exists(dir / "LibarchiveAddingTest.html") &&
               fs::file_size(dir / "LibarchiveAddingTest.html") == 20111;
    }
};

TEST_F(RarVolumes, VolChangeHandlerNamesTheMissingVolume) {
    std::vector<std::string> asked;
    rar.OnVolChange = [&](RarComponent&, char* name, std::int32_t mode) {
        asked.push_back(name);
        EXPECT_EQ(mode, 0);
        const std::string moved = dir / "moved.rar";
        std::memcpy(name, moved.c_str(), moved.size() + 1);
    };
    rar.Extract();
    EXPECT_TRUE(rec.errors.empty()) << (rec.errors.empty() ? "" : rec.errors[0]);
    EXPECT_TRUE(Extracted());
    ASSERT_FALSE(asked.empty());
    EXPECT_EQ(asked[0], dir / "set.part2.rar");
}

TEST_F(RarVolumes, DialogSuppliesTheVolumeAndCancelEndsTheRun) {
    FakePrompter prompter;
    rar.SetPrompter(&prompter);
    rar.SetPromptForVolumn(true);
    rar.SetCanProgress(false);
    prompter.answer = {false, dir / "moved.rar"};
    rar.Extract();
    EXPECT_EQ(rec.errors, std::vector<std::string>{"Volumn-Error"});
    EXPECT_FALSE(Extracted());
    ASSERT_EQ(prompter.asked.size(), 1u);
    EXPECT_EQ(prompter.asked[0].caption, "Archive suivante : ...");
    EXPECT_FALSE(prompter.asked[0].masked);
    EXPECT_EQ(prompter.asked[0].initial, dir / "set.part1.rar");

    prompter.answer.ok = true;
    rec.errors.clear();
    rar.Extract();
    EXPECT_TRUE(rec.errors.empty()) << (rec.errors.empty() ? "" : rec.errors[0]);
    EXPECT_TRUE(Extracted());
}

TEST_F(RarVolumes, NobodyToAskReportsTheVolumeError) {
    rar.Extract();
    EXPECT_EQ(rec.errors, std::vector<std::string>{"Volumn-Error"});
    EXPECT_FALSE(Extracted());
    EXPECT_EQ(rec.events.back(), "status 2 ");
}

}  // namespace
}  // namespace parevo
