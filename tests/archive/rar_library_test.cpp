// The RAR library on its own, called through its exported interface: real
// archives made by the vendor's tool, and archives written byte by byte for the
// cases a tool will not make (unsafe names, broken headers).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>

#include "archive/untUnRar.h"
#include "rar_scan.h"
#include "support/rar_builder.h"
#include "support/temp_dir.h"
#include "unrar_abi.h"

namespace parevo {
namespace {

namespace fs = std::filesystem;
using test::RarBuilder;
using test::RarMember;
using test::TempDir;

std::string FixturePath(const std::string& name) {
    return std::string(PAREVO_FIXTURES_DIR) + "/rar/" + name;
}
bool HaveFixtures() {
    return fs::exists(FixturePath("test_read_format_rar.rar"));
}
#define REQUIRE_FIXTURES()                 \
    if (!HaveFixtures()) {                 \
        GTEST_SKIP() << "fixtures absent"; \
    }

// The records are laid out as the vendor's header gives them.
TEST(RarInterface, RecordsHaveTheVendorsSizes) {
    if (sizeof(void*) == 8 && sizeof(wchar_t) == 4) {
        EXPECT_EQ(sizeof(RARHeaderDataEx),
                  14340u);  // as the vendor's header gives it on 64-bit Linux
        EXPECT_EQ(sizeof(RAROpenArchiveDataEx), 176u);
    }
}

// Calls the library through the binding, as the component does.
class RarLibrary : public ::testing::Test {
  protected:
    RarLibrary()
        : lib(std::string(PAREVO_BIN_DIR) + "/" + UnRarLibraryFileName()), f(lib.Functions()) {}

    void SetUp() override { ASSERT_TRUE(lib.Loaded()); }

    struct Entry {
        std::string name;
        std::wstring wideName;
        unsigned flags = 0, unpSize = 0, crc = 0, redir = 0;
        int result = 0;
    };

    void* Open(const std::string& path, unsigned mode, unsigned* result = nullptr) {
        openName = path;
        RAROpenArchiveDataEx d{};
        d.ArcName = openName.data();
        d.OpenMode = mode;
        d.Callback = &Callback;
        d.UserData = reinterpret_cast<RarLParam>(this);
        void* h = f.RAROpenArchiveEx(&d);
        archiveFlags = d.Flags;
        if (result != nullptr) {
            *result = d.OpenResult;
        }
        return h;
    }

    // Reads every header and applies `op` to each; returns the entries seen.
    std::vector<Entry> Run(const std::string& path, unsigned mode, int op, const std::string& dest,
                           int* lastHeaderResult = nullptr) {
        void* h = Open(path, mode);
        EXPECT_NE(h, nullptr) << path;
        std::vector<Entry> out;
        if (h == nullptr) {
            return out;
        }
        std::string destText = dest;
        for (int guard = 0; guard < 100; ++guard) {
            auto hd = std::make_unique<RARHeaderDataEx>();
            std::memset(static_cast<void*>(hd.get()), 0, sizeof(*hd));
            const int r = f.RARReadHeaderEx(h, hd.get());
            if (r != 0) {
                if (lastHeaderResult != nullptr) {
                    *lastHeaderResult = r;
                }
                break;
            }
            Entry e{hd->FileName, hd->FileNameW, hd->Flags, hd->UnpSize,
                    hd->FileCRC,  hd->RedirType, 0};
            e.result = f.RARProcessFile(h, op, destText.data(), nullptr);
            out.push_back(e);
        }
        EXPECT_EQ(f.RARCloseArchive(h), 0);
        return out;
    }

    static int UNRAR_CALL Callback(unsigned msg, RarLParam user, RarLParam p1, RarLParam p2) {
        auto* self = reinterpret_cast<RarLibrary*>(user);
        self->messages.push_back({msg, static_cast<int>(p2)});
        if (msg == UCM_PROCESSDATA) {
            self->processed += static_cast<std::size_t>(p2);
        }
        return self->onMessage ? self->onMessage(msg, p1, p2) : 0;
    }

    UnRarLibrary lib;
    const UnRarFunctions& f;
    std::string openName;
    unsigned archiveFlags = 0;
    std::vector<std::pair<unsigned, int>> messages;
    std::size_t processed = 0;
    std::function<int(unsigned, RarLParam, RarLParam)> onMessage;
    TempDir dir;
};

TEST_F(RarLibrary, ReportsTheInterfaceVersion) {
    EXPECT_EQ(f.RARGetDllVersion(), 10);
}

TEST_F(RarLibrary, ListsRar4AndRar5ArchivesWithSizesAndCrcs) {
    REQUIRE_FIXTURES();
    auto basic = Run(FixturePath("test_read_format_rar.rar"), RAR_OM_LIST, RAR_EXTRACT, dir.Path());
    ASSERT_EQ(basic.size(), 5u);
    EXPECT_EQ(basic[0].name, "test.txt");
    EXPECT_EQ(basic[0].unpSize, 20u);
    EXPECT_EQ(basic[0].crc, 0xBEC8A242u);
    EXPECT_EQ(basic[1].redir, 1u);  // a Unix symbolic link
    EXPECT_EQ(basic[2].name, "testdir/test.txt");
    EXPECT_EQ(basic[3].flags & RHDF_DIRECTORY, RHDF_DIRECTORY);
    EXPECT_EQ(dir.List(), std::vector<std::string>{});  // listing writes nothing

    auto rar5 =
        Run(FixturePath("test_read_format_rar5_multiple_files.rar"), RAR_OM_LIST, RAR_SKIP, "");
    ASSERT_EQ(rar5.size(), 4u);
    EXPECT_EQ(rar5[3].name, "test4.bin");
    EXPECT_EQ(rar5[3].crc, 0x10C43ED4u);
    EXPECT_EQ(rar5[3].unpSize, 4096u);
}

TEST_F(RarLibrary, ExtractsStoredCompressedAndRar5Members) {
    REQUIRE_FIXTURES();
    for (const char* name :
         {"test_read_format_rar.rar", "test_read_format_rar5_stored.rar",
          "test_read_format_rar5_compressed.rar", "test_read_format_rar_compress_normal.rar"}) {
        for (const Entry& e : Run(FixturePath(name), RAR_OM_EXTRACT, RAR_EXTRACT, dir.Path())) {
            EXPECT_EQ(e.result, 0) << name << " " << e.name;
        }
    }
    EXPECT_EQ(test::ReadText(dir / "test.txt"), "test text document\r\n");
    EXPECT_EQ(test::ReadText(dir / "helloworld.txt"), "hello libarchive test suite!\n");
    const auto bin = test::ReadBytes(dir / "test.bin");
    EXPECT_EQ(test::Crc32(bin.data(), bin.size()), 0x7CCA70CDu);
    const auto html = test::ReadBytes(dir / "testdir/LibarchiveAddingTest.html");
    EXPECT_EQ(test::Crc32(html.data(), html.size()), 0x5E05A663u);
    EXPECT_TRUE(fs::is_directory(dir / "testemptydir"));
    // Links are never created.
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "testlink")));
}

TEST_F(RarLibrary, UnicodeNamesComeNarrowAndWide) {
    REQUIRE_FIXTURES();
    auto entries = Run(FixturePath("test_read_format_rar_unicode.rar"), RAR_OM_EXTRACT, RAR_EXTRACT,
                       dir.Path());
    ASSERT_EQ(entries.size(), 6u);
    EXPECT_EQ(entries[5].name, "abcdefghijklmnopqrsテスト.txt");
    EXPECT_EQ(entries[5].wideName, L"abcdefghijklmnopqrsテスト.txt");
    EXPECT_EQ(test::ReadText(dir / "表だよ/漢字長いファイル名long-filename-in-漢字.txt"), "kanji");
}

// RAR 4 names stored without their Unicode form are in the OEM code page (437
// where the system has none); a name that is already UTF-8 stays as it is. The
// listing and the file written carry the same name.
TEST_F(RarLibrary, OemNamesAreListedAndWrittenAlike) {
    RarMember utf8;
    utf8.name = "caf\xC3\xA9.txt";
    utf8.data = {'u'};
    utf8.hostOS = 3;
    RarBuilder b;
    b.AddText("Pok\x82mon.nds", "rom").AddText("Sav\x82s\\Pok\x82mon.sav", "save").Add(utf8);
    b.WriteTo(dir / "oem.rar");
    auto entries = Run(dir / "oem.rar", RAR_OM_EXTRACT, RAR_EXTRACT, dir / "out");
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, "Pok\u00e9mon.nds");
    EXPECT_EQ(entries[0].wideName, L"Pok\u00e9mon.nds");
    EXPECT_EQ(entries[0].crc, test::Crc32(reinterpret_cast<const std::uint8_t*>("rom"), 3));
    EXPECT_EQ(entries[1].name, "Sav\u00e9s/Pok\u00e9mon.sav");
    EXPECT_EQ(entries[1].wideName, L"Sav\u00e9s/Pok\u00e9mon.sav");
    EXPECT_EQ(entries[2].name, "caf\u00e9.txt");
    for (const Entry& e : entries) {
        EXPECT_EQ(e.result, 0) << e.name;
    }
    EXPECT_EQ(test::ReadText(dir / "out/Pok\u00e9mon.nds"), "rom");
    EXPECT_EQ(test::ReadText(dir / "out/Sav\u00e9s/Pok\u00e9mon.sav"), "save");
    EXPECT_EQ(test::ReadText(dir / "out/caf\u00e9.txt"), "u");
    std::vector<std::string> written;
    for (const auto& item : fs::directory_iterator(dir / "out")) {
        written.push_back(item.path().filename().string());
    }
    std::sort(written.begin(), written.end());
    EXPECT_EQ(written,
              (std::vector<std::string>{"Pok\u00e9mon.nds", "Sav\u00e9s", "caf\u00e9.txt"}));
}

TEST_F(RarLibrary, TestModeChecksDataAndWritesNothing) {
    REQUIRE_FIXTURES();
    auto good = Run(FixturePath("test_read_format_rar_compress_normal.rar"), RAR_OM_EXTRACT,
                    RAR_TEST, dir.Path());
    ASSERT_EQ(good.size(), 6u);
    EXPECT_EQ(good[0].result, 0);
    EXPECT_EQ(processed, 20111u * 2 + 20);
    int last = 0;
    auto bad = Run(FixturePath("test_read_format_rar_invalid1.rar"), RAR_OM_EXTRACT, RAR_TEST,
                   dir.Path(), &last);
    ASSERT_EQ(bad.size(), 1u);
    EXPECT_EQ(bad[0].result, ERAR_BAD_DATA);
    EXPECT_EQ(last, ERAR_BAD_DATA);
    EXPECT_EQ(dir.List(), std::vector<std::string>{});
}

TEST_F(RarLibrary, ADamagedArchiveKeepsReportingTheDamage) {
    RarBuilder b;
    b.AddText("ok.txt", "fine").AddText("bad.txt", "x").BreakLastHeaderCrc();
    b.WriteTo(dir / "bad.rar");
    void* h = Open(dir / "bad.rar", RAR_OM_EXTRACT);
    ASSERT_NE(h, nullptr);
    auto hd = std::make_unique<RARHeaderDataEx>();
    EXPECT_EQ(f.RARReadHeaderEx(h, hd.get()), 0);
    EXPECT_EQ(f.RARProcessFile(h, RAR_SKIP, nullptr, nullptr), 0);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(f.RARReadHeaderEx(h, hd.get()), ERAR_BAD_DATA);
    }
    f.RARCloseArchive(h);
}

TEST_F(RarLibrary, RefusesNamesThatLeaveTheDestination) {
    RarBuilder b;
    b.AddText("..\\escape.txt", "no").AddText("/abs.txt", "no").AddText("C:\\drive.txt", "no");
    b.AddText("sub\\..\\..\\up.txt", "no").AddText("sub\\fine.txt", "yes");
    b.WriteTo(dir / "evil.rar");
    fs::create_directory(dir / "out");
    auto entries = Run(dir / "evil.rar", RAR_OM_EXTRACT, RAR_EXTRACT, dir / "out");
    ASSERT_EQ(entries.size(), 5u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(entries[i].result, ERAR_ECREATE) << entries[i].name;
    }
    EXPECT_EQ(entries[4].result, 0);
    EXPECT_EQ(test::ReadText(dir / "out/sub/fine.txt"), "yes");
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"evil.rar", "out"}));
    EXPECT_FALSE(fs::exists("/abs.txt"));
}

TEST_F(RarLibrary, FollowsNoLinkOutOfTheDestination) {
    fs::create_directory(dir / "out");
    fs::create_directory(dir / "elsewhere");
    fs::create_directory_symlink(dir / "elsewhere", dir / "out/sub");
    fs::create_symlink(dir / "elsewhere/target.txt", dir / "out/top.txt");
    RarBuilder b;
    b.AddText("sub\\fine.txt", "no").AddText("top.txt", "replaces the link itself");
    b.WriteTo(dir / "a.rar");
    auto entries = Run(dir / "a.rar", RAR_OM_EXTRACT, RAR_EXTRACT, dir / "out");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].result, ERAR_ECREATE);
    EXPECT_EQ(entries[1].result, 0);
    EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
    EXPECT_FALSE(fs::is_symlink(dir / "out/top.txt"));
}

// Extracted into its own folder, a member named like the archive would replace
// the archive being read.
TEST_F(RarLibrary, NeverReplacesTheArchiveItself) {
    RarBuilder b;
    b.AddText("game.nds", "rom").AddText("self.rar", "not the archive").AddText("save.sav", "s");
    b.WriteTo(dir / "self.rar");
    const auto archive = test::ReadBytes(dir / "self.rar");
    auto entries = Run(dir / "self.rar", RAR_OM_EXTRACT, RAR_EXTRACT, dir.Path());
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].result, 0);
    EXPECT_EQ(entries[1].result, ERAR_ECREATE);
    EXPECT_EQ(entries[2].result, 0);
    EXPECT_EQ(test::ReadBytes(dir / "self.rar"), archive);
    EXPECT_EQ(test::ReadText(dir / "game.nds"), "rom");
    EXPECT_EQ(test::ReadText(dir / "save.sav"), "s");
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"game.nds", "save.sav", "self.rar"}));

    // The file is recognised, not its name: a destination the caller spells
    // another way is refused as well.
    void* h = Open(dir / "self.rar", RAR_OM_EXTRACT);
    ASSERT_NE(h, nullptr);
    auto hd = std::make_unique<RARHeaderDataEx>();
    ASSERT_EQ(f.RARReadHeaderEx(h, hd.get()), 0);
    std::string other = dir.Path() + "/./self.rar";
    EXPECT_EQ(f.RARProcessFile(h, RAR_EXTRACT, nullptr, other.data()), ERAR_ECREATE);
    f.RARCloseArchive(h);
    EXPECT_EQ(test::ReadBytes(dir / "self.rar"), archive);
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"game.nds", "save.sav", "self.rar"}));
}

TEST_F(RarLibrary, NeverReplacesAVolumeOfTheSet) {
    RarMember big;
    big.name = "big.nds";
    for (int i = 0; i < 90000; ++i) {
        big.data.push_back(static_cast<std::uint8_t>(i * 13 + i / 241));
    }
    RarMember named;
    named.name = "v.part2.rar";
    named.data = {'n', 'o', 't', ' ', 'a', ' ', 'v', 'o', 'l', 'u', 'm', 'e'};
    const auto set = RarBuilder::VolumeSet(big, 3, true, {named});
    for (int i = 0; i < 3; ++i) {
        test::WriteBytes(dir / ("v.part" + std::to_string(i + 1) + ".rar"), set[i]);
    }
    // A later volume, not yet opened when the member of its name comes.
    auto entries = Run(dir / "v.part1.rar", RAR_OM_EXTRACT, RAR_EXTRACT, dir.Path());
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].result, ERAR_ECREATE);
    EXPECT_EQ(entries[1].result, 0);
    EXPECT_EQ(test::ReadBytes(dir / "v.part2.rar"), set[1]);
    EXPECT_EQ(test::ReadBytes(dir / "big.nds"), big.data);

    // A volume the caller names only when asked, while the data of a member
    // bound for that very file is read.
    fs::remove(dir / "big.nds");
    fs::rename(dir / "v.part3.rar", dir / "third");
    const std::wstring third = std::wstring(dir.Path().begin(), dir.Path().end()) + L"/third";
    onMessage = [&](unsigned msg, RarLParam p1, RarLParam p2) {
        if (msg == UCM_CHANGEVOLUMEW && p2 == RAR_VOL_ASK) {
            std::wcscpy(reinterpret_cast<wchar_t*>(p1), third.c_str());
        }
        return 0;
    };
    void* h = Open(dir / "v.part1.rar", RAR_OM_EXTRACT);
    ASSERT_NE(h, nullptr);
    auto hd = std::make_unique<RARHeaderDataEx>();
    ASSERT_EQ(f.RARReadHeaderEx(h, hd.get()), 0);
    EXPECT_EQ(f.RARProcessFile(h, RAR_SKIP, nullptr, nullptr), 0);
    ASSERT_EQ(f.RARReadHeaderEx(h, hd.get()), 0);
    std::string dest = dir / "third";
    EXPECT_EQ(f.RARProcessFile(h, RAR_EXTRACT, nullptr, dest.data()), ERAR_ECREATE);
    f.RARCloseArchive(h);
    EXPECT_EQ(test::ReadBytes(dir / "third"), set[2]);
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"third", "v.part1.rar", "v.part2.rar"}));
}

TEST_F(RarLibrary, WideEntryPointAndChosenDestinationName) {
    RarBuilder b;
    b.AddText("sub\\a.txt", "alpha").AddText("b.txt", "beta");
    b.WriteTo(dir / "a.rar");
    auto processW =
        lib.Loaded()
            ? DynamicLibrary::Load(std::string(PAREVO_BIN_DIR) + "/" + UnRarLibraryFileName())
            : nullptr;
    ASSERT_NE(processW, nullptr);
    auto fn =
        processW->Function<int(UNRAR_CALL*)(void*, int, wchar_t*, wchar_t*)>("RARProcessFileW");
    ASSERT_NE(fn, nullptr);
    void* h = Open(dir / "a.rar", RAR_OM_EXTRACT);
    ASSERT_NE(h, nullptr);
    auto hd = std::make_unique<RARHeaderDataEx>();
    ASSERT_EQ(f.RARReadHeaderEx(h, hd.get()), 0);
    fs::create_directory(dir / "wide é");
    std::wstring dest = std::wstring(dir.Path().begin(), dir.Path().end()) + L"/wide \u00e9";
    EXPECT_EQ(fn(h, RAR_EXTRACT, dest.data(), nullptr), 0);
    ASSERT_EQ(f.RARReadHeaderEx(h, hd.get()), 0);
    std::string exact = dir / "renamed.txt";
    EXPECT_EQ(f.RARProcessFile(h, RAR_EXTRACT, nullptr, exact.data()), 0);
    f.RARCloseArchive(h);
    EXPECT_EQ(test::ReadText(dir / "wide é/sub/a.txt"), "alpha");
    EXPECT_EQ(test::ReadText(dir / "renamed.txt"), "beta");
}

TEST_F(RarLibrary, MakesAMissingDestinationFolder) {
    RarBuilder b;
    b.AddText("sub\\a.txt", "alpha");
    b.WriteTo(dir / "a.rar");
    auto entries = Run(dir / "a.rar", RAR_OM_EXTRACT, RAR_EXTRACT, dir / "new/deeper");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].result, 0);
    EXPECT_EQ(test::ReadText(dir / "new/deeper/sub/a.txt"), "alpha");
}

TEST_F(RarLibrary, StoppingFromTheDataCallbackLeavesNoFile) {
    RarBuilder b;
    b.AddFile("big.bin", std::vector<std::uint8_t>(300000, 7));
    b.WriteTo(dir / "a.rar");
    fs::create_directory(dir / "out");
    onMessage = [](unsigned msg, RarLParam, RarLParam) { return msg == UCM_PROCESSDATA ? -1 : 0; };
    auto entries = Run(dir / "a.rar", RAR_OM_EXTRACT, RAR_EXTRACT, dir / "out");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_NE(entries[0].result, 0);
    EXPECT_TRUE(fs::is_empty(dir / "out"));
}

TEST_F(RarLibrary, EncryptedDataAsksForAPasswordWideThenNarrow) {
    REQUIRE_FIXTURES();
    auto entries = Run(FixturePath("test_read_format_rar_encryption_data.rar"), RAR_OM_EXTRACT,
                       RAR_EXTRACT, dir.Path());
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].flags & RHDF_ENCRYPTED, RHDF_ENCRYPTED);
    EXPECT_EQ(entries[0].result, ERAR_MISSING_PASSWORD);
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[0].first, UCM_NEEDPASSWORDW);
    EXPECT_EQ(messages[1].first, UCM_NEEDPASSWORD);
    EXPECT_EQ(messages[1].second, 512);

    // With a password it cannot use, the data is refused rather than made up.
    messages.clear();
    onMessage = [](unsigned msg, RarLParam p1, RarLParam) {
        if (msg == UCM_NEEDPASSWORD) {
            std::strcpy(reinterpret_cast<char*>(p1), "12345678");
        }
        return 0;
    };
    entries = Run(FixturePath("test_read_format_rar_encryption_data.rar"), RAR_OM_EXTRACT,
                  RAR_EXTRACT, dir.Path());
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].result, ERAR_UNKNOWN_FORMAT);
    EXPECT_EQ(dir.List(), std::vector<std::string>{});
}

TEST_F(RarLibrary, OpenResultsForMissingAndForeignFiles) {
    unsigned result = 0;
    EXPECT_EQ(Open(dir / "none.rar", RAR_OM_LIST, &result), nullptr);
    EXPECT_EQ(result, ERAR_EOPEN);
    test::WriteText(dir / "text.rar", "plain text");
    EXPECT_EQ(Open(dir / "text.rar", RAR_OM_LIST, &result), nullptr);
    EXPECT_EQ(result, ERAR_BAD_ARCHIVE);
}

TEST_F(RarLibrary, CommentFillsTheBufferOrSaysItIsTooSmall) {
    RarBuilder b;
    b.AddText("a.txt", "a").Comment("0123456789");
    b.WriteTo(dir / "c.rar");
    std::string name = dir / "c.rar";
    for (unsigned size : {64u, 5u}) {
        std::vector<char> buffer(size, 'x');
        RAROpenArchiveData d{};
        d.ArcName = name.data();
        d.OpenMode = RAR_OM_LIST;
        d.CmtBuf = buffer.data();
        d.CmtBufSize = size;
        void* h = f.RAROpenArchive(&d);
        ASSERT_NE(h, nullptr);
        f.RARCloseArchive(h);
        if (size == 64) {
            EXPECT_EQ(d.CmtState, 1u);
            EXPECT_EQ(d.CmtSize, 11u);
            EXPECT_STREQ(buffer.data(), "0123456789");
        } else {
            EXPECT_EQ(d.CmtState, 20u);
            EXPECT_EQ(d.CmtSize, 5u);
            EXPECT_STREQ(buffer.data(), "0123");
        }
    }
}

TEST_F(RarLibrary, EncryptedHeadersGiveThePasswordCodes) {
    RarBuilder b;
    b.AddText("hidden.nds", "x").ArchiveFlags(0x80);
    b.WriteTo(dir / "enc.rar");
    void* h = Open(dir / "enc.rar", RAR_OM_LIST);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(archiveFlags & ROADF_ENCHEADERS, ROADF_ENCHEADERS);
    auto hd = std::make_unique<RARHeaderDataEx>();
    EXPECT_EQ(f.RARReadHeaderEx(h, hd.get()), ERAR_MISSING_PASSWORD);
    EXPECT_EQ(f.RARReadHeaderEx(h, hd.get()), ERAR_MISSING_PASSWORD);
    f.RARCloseArchive(h);
    h = Open(dir / "enc.rar", RAR_OM_LIST);
    ASSERT_NE(h, nullptr);
    std::string password = "pw";
    f.RARSetPassword(h, password.data());
    EXPECT_EQ(f.RARReadHeaderEx(h, hd.get()), ERAR_UNKNOWN_FORMAT);
    f.RARCloseArchive(h);
}

TEST(RarVolumeNames, FollowTheTwoNamingSchemes) {
    EXPECT_EQ(unrar::NextVolumeName("a/game.part1.rar", true), "a/game.part2.rar");
    EXPECT_EQ(unrar::NextVolumeName("game.part9.rar", true), "game.part10.rar");
    EXPECT_EQ(unrar::NextVolumeName("game.part09.rar", true), "game.part10.rar");
    EXPECT_EQ(unrar::NextVolumeName("game.part099.rar", true), "game.part100.rar");
    EXPECT_EQ(unrar::NextVolumeName("v2.part1.rar", true), "v2.part2.rar");
    EXPECT_EQ(unrar::NextVolumeName("game.rar", false), "game.r00");
    EXPECT_EQ(unrar::NextVolumeName("GAME.RAR", false), "GAME.R00");
    EXPECT_EQ(unrar::NextVolumeName("game.r00", false), "game.r01");
    EXPECT_EQ(unrar::NextVolumeName("game.r09", false), "game.r10");
    EXPECT_EQ(unrar::NextVolumeName("game.r99", false), "game.s00");
    EXPECT_EQ(unrar::NextVolumeName("dir.v1/game", false), "dir.v1/game.r00");
}

TEST_F(RarLibrary, OldStyleVolumeSetIsFoundByItsNames) {
    RarMember m;
    m.name = "big.nds";
    for (int i = 0; i < 100000; ++i) {
        m.data.push_back(static_cast<std::uint8_t>(i * 7 + i / 251));
    }
    const auto set = RarBuilder::VolumeSet(m, 3, false);
    test::WriteBytes(dir / "game.rar", set[0]);
    test::WriteBytes(dir / "game.r00", set[1]);
    test::WriteBytes(dir / "game.r01", set[2]);
    auto entries = Run(dir / "game.rar", RAR_OM_EXTRACT, RAR_EXTRACT, dir / "out");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].result, 0);
    EXPECT_EQ(entries[0].unpSize, 100000u);
    EXPECT_EQ(test::ReadBytes(dir / "out/big.nds"), m.data);
    EXPECT_EQ(std::count(messages.begin(), messages.end(),
                         std::make_pair(UCM_CHANGEVOLUME, RAR_VOL_NOTIFY)),
              2);

    // A missing last volume, named by the wide answer.
    fs::rename(dir / "game.r01", dir / "last piece");
    fs::remove_all(dir / "out");
    messages.clear();
    const std::wstring last = std::wstring(dir.Path().begin(), dir.Path().end()) + L"/last piece";
    onMessage = [&](unsigned msg, RarLParam p1, RarLParam p2) {
        if (msg == UCM_CHANGEVOLUMEW && p2 == RAR_VOL_ASK) {
            std::wcscpy(reinterpret_cast<wchar_t*>(p1), last.c_str());
        }
        return 0;
    };
    entries = Run(dir / "game.rar", RAR_OM_EXTRACT, RAR_EXTRACT, dir / "out");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].result, 0);
    EXPECT_EQ(test::ReadBytes(dir / "out/big.nds"), m.data);
    // The wide answer changed the name: no narrow question follows.
    EXPECT_EQ(
        std::count(messages.begin(), messages.end(), std::make_pair(UCM_CHANGEVOLUME, RAR_VOL_ASK)),
        0);
}

class RarLibraryVolumes : public RarLibrary {
  protected:
    void SetUp() override {
        RarLibrary::SetUp();
        if (!fs::exists(FixturePath("test_rar_multivolume_single_file.part1.rar"))) {
            GTEST_SKIP() << "fixtures absent";
        }
        for (int i = 1; i <= 3; ++i) {
            fs::copy_file(
                FixturePath("test_rar_multivolume_single_file.part" + std::to_string(i) + ".rar"),
                dir / ("v.part" + std::to_string(i) + ".rar"));
        }
        fs::create_directory(dir / "out");
    }
};

TEST_F(RarLibraryVolumes, ReadsTheWholeSetAndNotifiesEachVolume) {
    auto entries = Run(dir / "v.part1.rar", RAR_OM_EXTRACT, RAR_EXTRACT, dir / "out");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].result, 0);
    EXPECT_EQ(archiveFlags & (ROADF_VOLUME | ROADF_NEWNUMBERING | ROADF_FIRSTVOLUME),
              ROADF_VOLUME | ROADF_NEWNUMBERING | ROADF_FIRSTVOLUME);
    const auto html = test::ReadBytes(dir / "out/LibarchiveAddingTest.html");
    EXPECT_EQ(html.size(), 20111u);
    EXPECT_EQ(test::Crc32(html.data(), html.size()), 0x5E05A663u);
    std::vector<std::pair<unsigned, int>> volumeMessages;
    for (auto m : messages) {
        if (m.first != UCM_PROCESSDATA) {
            volumeMessages.push_back(m);
        }
    }
    const std::vector<std::pair<unsigned, int>> expected = {{UCM_CHANGEVOLUMEW, RAR_VOL_NOTIFY},
                                                            {UCM_CHANGEVOLUME, RAR_VOL_NOTIFY},
                                                            {UCM_CHANGEVOLUMEW, RAR_VOL_NOTIFY},
                                                            {UCM_CHANGEVOLUME, RAR_VOL_NOTIFY}};
    EXPECT_EQ(volumeMessages, expected);
}

TEST_F(RarLibraryVolumes, AsksForAMissingVolumeAndStopsWhenRefused) {
    fs::rename(dir / "v.part3.rar", dir / "third.rar");
    auto entries = Run(dir / "v.part1.rar", RAR_OM_EXTRACT, RAR_EXTRACT, dir / "out");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].result, ERAR_EOPEN);
    EXPECT_TRUE(fs::is_empty(dir / "out"));
    EXPECT_NE(
        std::find(messages.begin(), messages.end(), std::make_pair(UCM_CHANGEVOLUMEW, RAR_VOL_ASK)),
        messages.end());

    // Answering the narrow question with another name finds it.
    messages.clear();
    const std::string third = dir / "third.rar";
    onMessage = [&](unsigned msg, RarLParam p1, RarLParam p2) {
        if (msg == UCM_CHANGEVOLUME && p2 == RAR_VOL_ASK) {
            EXPECT_EQ(std::string(reinterpret_cast<char*>(p1)), dir / "v.part3.rar");
            std::strcpy(reinterpret_cast<char*>(p1), third.c_str());
        }
        return 0;
    };
    entries = Run(dir / "v.part1.rar", RAR_OM_EXTRACT, RAR_EXTRACT, dir / "out");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].result, 0);
    EXPECT_EQ(fs::file_size(dir / "out/LibarchiveAddingTest.html"), 20111u);
}

// Listing reads the first volume's header alone; moving past a member that goes
// on in the next volume needs that volume, as in the vendor's library.
TEST(RarLibraryOldRecords, ListingTheFirstVolumeAloneStopsAtTheSplitMember) {
    if (!fs::exists(FixturePath("test_rar_multivolume_single_file.part1.rar"))) {
        GTEST_SKIP() << "fixtures absent";
    }
    TempDir dir;
    fs::copy_file(FixturePath("test_rar_multivolume_single_file.part1.rar"),
                  dir / "only.part1.rar");
    UnRarLibrary lib(std::string(PAREVO_BIN_DIR) + "/" + UnRarLibraryFileName());
    ASSERT_TRUE(lib.Loaded());
    std::string name = dir / "only.part1.rar";
    RAROpenArchiveData d{};
    d.ArcName = name.data();
    d.OpenMode = RAR_OM_LIST;
    void* h = lib.Functions().RAROpenArchive(&d);
    ASSERT_NE(h, nullptr);
    RARHeaderData hd{};
    EXPECT_EQ(lib.Functions().RARReadHeader(h, &hd), 0);
    EXPECT_STREQ(hd.FileName, "LibarchiveAddingTest.html");
    EXPECT_EQ(hd.Flags & RHDF_SPLITAFTER, RHDF_SPLITAFTER);
    EXPECT_EQ(lib.Functions().RARProcessFile(h, RAR_SKIP, nullptr, nullptr), ERAR_EOPEN);
    lib.Functions().RARCloseArchive(h);
}

}  // namespace
}  // namespace parevo
