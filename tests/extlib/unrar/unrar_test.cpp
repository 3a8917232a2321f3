// The RAR library on its own, called through its exported interface: real
// archives made by the vendor's tool, and archives written byte by byte for the
// cases a tool will not make (unsafe names, broken headers).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>

#include "archive/unrar_binding.h"
#include "rar_scan.h"
#include "support/rar_builder.h"
#include "support/temp_dir.h"
#include "unrar_exports.h"

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
#define REQUIRE_FIXTURES()                             \
    if (!HaveFixtures()) {                             \
        FAIL() << "fixtures missing (tests/fixtures)"; \
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
            FAIL() << "fixtures missing (tests/fixtures)";
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
        FAIL() << "fixtures missing (tests/fixtures)";
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

// --- Data checks: a member whose data does not match its checksum is refused,
// leaves no file, and an older file of its name stays as it was.

std::vector<std::uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

// A RAR 4 file header's data CRC, with the header's own CRC made to match.
void SetRar4DataCrc(std::vector<std::uint8_t>& b, std::size_t header, std::uint32_t crc) {
    for (int i = 0; i < 4; ++i) {
        b[header + 16 + i] = static_cast<std::uint8_t>(crc >> (8 * i));
    }
    const std::size_t size = b[header + 5] | b[header + 6] << 8;
    const std::uint32_t headerCrc = test::Crc32(&b[header + 2], size - 2);
    b[header] = static_cast<std::uint8_t>(headerCrc);
    b[header + 1] = static_cast<std::uint8_t>(headerCrc >> 8);
}

// A RAR 5 header's CRC made to match after a change (a header under 128 bytes).
void RefreshRar5HeaderCrc(std::vector<std::uint8_t>& b, std::size_t header) {
    const std::uint32_t crc = test::Crc32(&b[header + 4], 1 + b[header + 4]);
    for (int i = 0; i < 4; ++i) {
        b[header + i] = static_cast<std::uint8_t>(crc >> (8 * i));
    }
}

std::vector<std::uint8_t> Fixture(const std::string& name) {
    return test::ReadBytes(FixturePath(name));
}

struct DamageCase {
    const char* label;
    std::vector<std::uint8_t> (*make)();  // an archive whose member "bad" part is damaged
    std::string member;                   // that member's name
    std::size_t goodBefore;               // whole members ahead of it
};

std::vector<std::uint8_t> Rar4StoredFlipped() {
    RarBuilder b;
    b.AddText("ok.txt", "fine").AddFile("game.nds", Bytes("ROM DATA THAT GETS A FLIPPED BYTE"));
    auto bytes = b.Build();
    test::FlipFirst(bytes, "FLIPPED");
    return bytes;
}

std::vector<std::uint8_t> Rar4SolidFlipped() {
    RarMember first, second;
    first.name = "ok.txt";
    first.data = Bytes("fine");
    second.name = "game.nds";
    second.data = Bytes("SOLID MEMBER WITH A FLIPPED BYTE");
    second.solid = true;
    RarBuilder b;
    b.ArchiveFlags(0x08).Add(first).Add(second);
    auto bytes = b.Build();
    test::FlipFirst(bytes, "FLIPPED");
    return bytes;
}

std::vector<std::uint8_t> Rar4CompressedWrongCrc() {
    // The fixture's first member, compressed, with a CRC its data does not have.
    auto bytes = Fixture("test_read_format_rar_compress_normal.rar");
    SetRar4DataCrc(bytes, 20, 0x5E05A663u ^ 0x00010000u);
    return bytes;
}

std::vector<std::uint8_t> Rar5StoredFlipped() {
    test::Rar5Builder b;
    b.AddText("ok.txt", "fine").AddText("game.nds", "RAR 5 DATA WITH A FLIPPED BYTE");
    auto bytes = b.Build();
    test::FlipFirst(bytes, "FLIPPED");
    return bytes;
}

test::Rar5Member Text5(const std::string& name, const std::string& text) {
    test::Rar5Member m;
    m.name = name;
    m.data = Bytes(text);
    return m;
}

std::vector<std::uint8_t> Rar5Blake2Flipped() {
    const test::Rar5Member ok = Text5("ok.txt", "fine");
    test::Rar5Member bad = Text5("game.nds", "CHECKED BY BLAKE2SP ALONE, FLIPPED");
    bad.crc = false;
    bad.blake2 = true;
    test::Rar5Builder b;
    b.Add(ok).Add(bad);
    auto bytes = b.Build();
    test::FlipFirst(bytes, "FLIPPED");
    return bytes;
}

std::vector<std::uint8_t> Rar5CompressedWrongBlake2() {
    // The fixture's member, compressed, with a hash its data does not have.
    auto bytes = Fixture("test_read_format_rar5_blake2.rar");
    const std::string digestStart("\xe6\x7b\x86\x25", 4);
    test::FlipFirst(bytes, digestStart);
    RefreshRar5HeaderCrc(bytes, 24);
    return bytes;
}

std::vector<std::uint8_t> Rar4Truncated() {
    RarBuilder b;
    b.AddText("ok.txt", "fine").AddFile("game.nds", std::vector<std::uint8_t>(5000, 0x42));
    auto bytes = b.Build();
    bytes.resize(bytes.size() - 7 - 2500);  // no end block, half the data
    return bytes;
}

std::vector<std::uint8_t> Rar4SizePastTheEnd() {
    RarMember m;
    m.name = "game.nds";
    m.data = Bytes("says it is far longer than it is");
    m.declaredPackSize = 1 << 20;
    RarBuilder b;
    b.AddText("ok.txt", "fine").Add(m);
    return b.Build();
}

void PrintTo(const DamageCase& c, std::ostream* os) {
    *os << c.label;
}

class RarDamagedData : public RarLibrary, public ::testing::WithParamInterface<DamageCase> {};

// The damaged member's result; every member before it was whole.
template <typename Entries>
int ResultOf(const Entries& entries, const DamageCase& c) {
    const auto it = std::find_if(entries.begin(), entries.end(),
                                 [&](const auto& e) { return e.name == c.member; });
    EXPECT_NE(it, entries.end()) << c.member;
    EXPECT_EQ(static_cast<std::size_t>(it - entries.begin()), c.goodBefore);
    for (auto before = entries.begin(); before != it; ++before) {
        EXPECT_EQ(before->result, 0) << before->name;
    }
    return it == entries.end() ? -1 : it->result;
}

TEST_P(RarDamagedData, ExtractionRefusesItAndKeepsTheOlderFile) {
    const DamageCase& c = GetParam();
    if (std::string(c.label).find("Compressed") != std::string::npos && !HaveFixtures()) {
        FAIL() << "fixtures missing (tests/fixtures)";
    }
    test::WriteBytes(dir / "a.rar", c.make());
    fs::create_directory(dir / "out");
    test::WriteText(dir / ("out/" + c.member), "older");
    auto entries = Run(dir / "a.rar", RAR_OM_EXTRACT, RAR_EXTRACT, dir / "out");
    EXPECT_EQ(ResultOf(entries, c), ERAR_BAD_DATA);
    EXPECT_EQ(test::ReadText(dir / ("out/" + c.member)), "older");
    for (const auto& item : fs::recursive_directory_iterator(dir / "out")) {
        EXPECT_NE(item.path().filename().string()[0], '.') << "left behind: " << item.path();
    }
}

TEST_P(RarDamagedData, TestModeRefusesIt) {
    const DamageCase& c = GetParam();
    if (std::string(c.label).find("Compressed") != std::string::npos && !HaveFixtures()) {
        FAIL() << "fixtures missing (tests/fixtures)";
    }
    test::WriteBytes(dir / "a.rar", c.make());
    auto entries = Run(dir / "a.rar", RAR_OM_EXTRACT, RAR_TEST, dir / "out");
    EXPECT_EQ(ResultOf(entries, c), ERAR_BAD_DATA);
    EXPECT_FALSE(fs::exists(dir / "out"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RarDamagedData,
    ::testing::Values(
        DamageCase{"Rar4Stored", &Rar4StoredFlipped, "game.nds", 1},
        DamageCase{"Rar4Solid", &Rar4SolidFlipped, "game.nds", 1},
        DamageCase{"Rar4Compressed", &Rar4CompressedWrongCrc, "LibarchiveAddingTest.html", 0},
        DamageCase{"Rar5Stored", &Rar5StoredFlipped, "game.nds", 1},
        DamageCase{"Rar5StoredBlake2", &Rar5Blake2Flipped, "game.nds", 1},
        DamageCase{"Rar5CompressedBlake2", &Rar5CompressedWrongBlake2, "cebula.txt", 0},
        DamageCase{"Rar4Truncated", &Rar4Truncated, "game.nds", 1},
        DamageCase{"Rar4SizePastTheEnd", &Rar4SizePastTheEnd, "game.nds", 1}),
    [](const ::testing::TestParamInfo<DamageCase>& info) { return std::string(info.param.label); });

// The headers that follow a member whose data runs past the end of the archive
// cannot be read: the listing stops there with the damaged-header code.
TEST_F(RarLibrary, ListingStopsWhereTheArchiveIsCutOrOverrun) {
    for (auto make : {&Rar4Truncated, &Rar4SizePastTheEnd}) {
        test::WriteBytes(dir / "a.rar", make());
        int last = 0;
        auto entries = Run(dir / "a.rar", RAR_OM_LIST, RAR_SKIP, "", &last);
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_EQ(entries[1].name, "game.nds");
        EXPECT_EQ(last, ERAR_BAD_DATA);
    }
    // Cut inside the second member's header.
    RarBuilder b;
    b.AddText("ok.txt", "fine").AddText("second.txt", "x");
    auto bytes = b.Build();
    test::WriteBytes(dir / "cut.rar", std::vector<std::uint8_t>(bytes.begin(), bytes.end() - 20));
    int last = 0;
    auto entries = Run(dir / "cut.rar", RAR_OM_LIST, RAR_SKIP, "", &last);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(last, ERAR_BAD_DATA);
}

TEST_F(RarLibrary, ARar4PackedSizeNearTwoToTheSixtyFourNeverWrapsTheWalk) {
    // 2^64 - 16: added to the member's position it would wrap to just past its
    // own header and list the data as a block.
    RarMember huge;
    huge.name = "huge.nds";
    huge.data = {1, 2, 3, 4};
    huge.declaredHighPackSize = 0xFFFFFFFF;
    huge.declaredPackSize = 0xFFFFFFF0;
    RarBuilder b;
    b.AddText("first.txt", "one").Add(huge).AddText("after.txt", "two");
    test::WriteBytes(dir / "a.rar", b.Build());
    int last = 0;
    const auto entries = Run(dir / "a.rar", RAR_OM_LIST, RAR_SKIP, "", &last);
    // The member whose header claims it is listed; the walk cannot go past it.
    ASSERT_EQ(entries.size(), 2u) << last;
    EXPECT_EQ(entries[1].name, "huge.nds");
    EXPECT_EQ(last, ERAR_EREAD);
}

TEST_F(RarLibrary, ABrokenRar5HeaderEndsTheListing) {
    test::Rar5Builder b;
    b.AddText("first.txt", "one").AddText("second.txt", "two").AddText("third.txt", "three");
    auto bytes = b.Build();
    test::FlipFirst(bytes, "second.txt");
    test::WriteBytes(dir / "a.rar", bytes);
    int last = 0;
    auto entries = Run(dir / "a.rar", RAR_OM_LIST, RAR_SKIP, "", &last);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "first.txt");
    EXPECT_EQ(last, ERAR_BAD_DATA);
}

TEST_F(RarLibrary, Rar5MembersWithEveryChecksumExtractWhole) {
    test::Rar5Member both, blake2Only, none;
    both.name = "both.bin";
    blake2Only.name = "blake2.bin";
    none.name = "none.bin";
    for (int i = 0; i < 3000; ++i) {
        both.data.push_back(static_cast<std::uint8_t>(i * 31));
    }
    blake2Only.data = both.data;
    none.data = both.data;
    both.blake2 = true;
    blake2Only.crc = false;
    blake2Only.blake2 = true;
    none.crc = false;
    test::Rar5Builder b;
    b.Add(both).Add(blake2Only).Add(none);
    b.WriteTo(dir / "a.rar");
    auto entries = Run(dir / "a.rar", RAR_OM_EXTRACT, RAR_EXTRACT, dir / "out");
    ASSERT_EQ(entries.size(), 3u);
    for (const Entry& e : entries) {
        EXPECT_EQ(e.result, 0) << e.name;
        EXPECT_EQ(test::ReadBytes(dir / ("out/" + e.name)), both.data) << e.name;
    }
}

// --- Volumes.

TEST_F(RarLibrary, AMemberGoingOnInAMissingVolumeAsksForItThenFails) {
    REQUIRE_FIXTURES();
    fs::copy_file(FixturePath("test_read_format_rar5_multiarchive.part01.rar"),
                  dir / "set.part01.rar");
    onMessage = [](unsigned msg, RarLParam, RarLParam p2) {
        return msg == UCM_CHANGEVOLUMEW && p2 == RAR_VOL_ASK ? -1 : 0;
    };
    fs::create_directory(dir / "out");
    for (int op : {RAR_EXTRACT, RAR_TEST}) {
        messages.clear();
        auto entries = Run(dir / "set.part01.rar", RAR_OM_EXTRACT, op, dir / "out");
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].unpSize, 144608u);
        EXPECT_EQ(entries[0].flags & RHDF_SPLITAFTER, RHDF_SPLITAFTER);
        EXPECT_EQ(entries[0].result, ERAR_EOPEN);
        EXPECT_NE(std::find(messages.begin(), messages.end(),
                            std::make_pair(UCM_CHANGEVOLUMEW, RAR_VOL_ASK)),
                  messages.end());
        EXPECT_TRUE(fs::is_empty(dir / "out"));
    }
}

TEST_F(RarLibraryVolumes, TheFirstPartReportsThatItGoesOnAndTheDataIsStillJoined) {
    auto listed = Run(dir / "v.part1.rar", RAR_OM_LIST, RAR_SKIP, "");
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].flags & (RHDF_SPLITBEFORE | RHDF_SPLITAFTER), RHDF_SPLITAFTER);
    EXPECT_EQ(listed[0].unpSize, 20111u);
    auto extracted = Run(dir / "v.part1.rar", RAR_OM_EXTRACT, RAR_EXTRACT, dir / "out");
    ASSERT_EQ(extracted.size(), 1u);
    EXPECT_EQ(extracted[0].flags & RHDF_SPLITAFTER, RHDF_SPLITAFTER);
    EXPECT_EQ(extracted[0].result, 0);
    EXPECT_EQ(fs::file_size(dir / "out/LibarchiveAddingTest.html"), 20111u);
}

TEST_F(RarLibrary, ARar5SetIsJoinedAndCheckedWhole) {
    test::Rar5Member m;
    m.name = "big.nds";
    for (int i = 0; i < 30000; ++i) {
        m.data.push_back(static_cast<std::uint8_t>(i * 11 + i / 241));
    }
    m.blake2 = true;
    const auto set = test::Rar5Builder::VolumeSet(m, 3);
    for (int i = 0; i < 3; ++i) {
        test::WriteBytes(dir / ("r5.part" + std::to_string(i + 1) + ".rar"), set[i]);
    }
    auto entries = Run(dir / "r5.part1.rar", RAR_OM_EXTRACT, RAR_EXTRACT, dir / "out");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].flags & (RHDF_SPLITBEFORE | RHDF_SPLITAFTER), RHDF_SPLITAFTER);
    EXPECT_EQ(entries[0].result, 0);
    EXPECT_EQ(test::ReadBytes(dir / "out/big.nds"), m.data);
}

// Listing with split parts included gives every part's header, as the vendor's
// library documents.
TEST_F(RarLibraryVolumes, ListingWithSplitPartsGivesEachPart) {
    auto parts = Run(dir / "v.part1.rar", RAR_OM_LIST_INCSPLIT, RAR_SKIP, "");
    ASSERT_EQ(parts.size(), 3u);
    const unsigned both = RHDF_SPLITBEFORE | RHDF_SPLITAFTER;
    EXPECT_EQ(parts[0].flags & both, RHDF_SPLITAFTER);
    EXPECT_EQ(parts[1].flags & both, both);
    EXPECT_EQ(parts[2].flags & both, RHDF_SPLITBEFORE);
    EXPECT_EQ(parts[2].crc, 0x5E05A663u);  // the last part holds the whole member's CRC
    for (const Entry& e : parts) {
        EXPECT_EQ(e.name, "LibarchiveAddingTest.html");
        EXPECT_EQ(e.result, 0);
    }
}

// A split member's data is checked against the CRC in its last part's header.
TEST_F(RarLibrary, ASplitMemberIsCheckedAgainstItsLastPart) {
    RarMember m;
    m.name = "big.nds";
    for (int i = 0; i < 30000; ++i) {
        m.data.push_back(static_cast<std::uint8_t>(i * 13 + i / 253));
    }
    auto set = RarBuilder::VolumeSet(m, 3, true);
    set[1][set[1].size() - 40] ^= 0x01;  // inside the middle part's data
    for (int i = 0; i < 3; ++i) {
        test::WriteBytes(dir / ("v.part" + std::to_string(i + 1) + ".rar"), set[i]);
    }
    auto entries = Run(dir / "v.part1.rar", RAR_OM_EXTRACT, RAR_EXTRACT, dir / "out");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].result, ERAR_BAD_DATA);
    EXPECT_FALSE(fs::exists(dir / "out/big.nds"));
}

// --- What the headers hold is what is reported.

struct FullHeader {
    int result = 0;
    std::unique_ptr<RARHeaderDataEx> d = std::make_unique<RARHeaderDataEx>();
    std::wstring redirName;
};

// Every header of an archive opened for listing, each passed over.
std::vector<FullHeader> ListHeaders(const UnRarFunctions& f, std::string path) {
    std::vector<FullHeader> out;
    RAROpenArchiveDataEx open{};
    open.ArcName = path.data();
    open.OpenMode = RAR_OM_LIST;
    void* h = f.RAROpenArchiveEx(&open);
    EXPECT_NE(h, nullptr) << path;
    for (int guard = 0; h != nullptr && guard < 100; ++guard) {
        FullHeader hd;
        std::vector<wchar_t> redir(256, L'\0');
        std::memset(static_cast<void*>(hd.d.get()), 0, sizeof(RARHeaderDataEx));
        hd.d->RedirName = redir.data();
        hd.d->RedirNameSize = static_cast<unsigned>(redir.size());
        if (f.RARReadHeaderEx(h, hd.d.get()) != 0) {
            break;
        }
        hd.redirName = redir.data();
        hd.d->RedirName = nullptr;
        f.RARProcessFile(h, RAR_SKIP, nullptr, nullptr);
        out.push_back(std::move(hd));
    }
    if (h != nullptr) {
        f.RARCloseArchive(h);
    }
    return out;
}

TEST_F(RarLibrary, LinksReportTheirTargetsLength) {
    REQUIRE_FIXTURES();
    auto headers = ListHeaders(f, FixturePath("test_read_format_rar.rar"));
    ASSERT_EQ(headers.size(), 5u);
    EXPECT_STREQ(headers[1].d->FileName, "testlink");
    EXPECT_EQ(headers[1].d->UnpSize, 8u);
    EXPECT_EQ(headers[1].d->RedirType, 1u);
    EXPECT_EQ(headers[1].redirName, L"test.txt");

    // As the vendor's tool stores a link: the target is its data too.
    test::Rar5Member link;
    link.name = "link";
    link.linkTarget = "target/file.nds";
    link.data = Bytes(link.linkTarget);
    test::Rar5Builder b;
    b.Add(link);
    b.WriteTo(dir / "l.rar");
    headers = ListHeaders(f, dir / "l.rar");
    ASSERT_EQ(headers.size(), 1u);
    EXPECT_EQ(headers[0].d->UnpSize, 15u);
    EXPECT_EQ(headers[0].d->RedirType, 1u);
    EXPECT_EQ(headers[0].redirName, L"target/file.nds");
}

TEST_F(RarLibrary, TimesAreTheHeadersOwn) {
    const test::Rar5Member timed = Text5("timed.txt", "t");
    test::Rar5Member untimed = Text5("untimed.txt", "u");
    untimed.mtime = false;
    test::Rar5Builder b5;
    b5.Add(timed).Add(untimed);
    b5.WriteTo(dir / "t5.rar");
    auto headers = ListHeaders(f, dir / "t5.rar");
    ASSERT_EQ(headers.size(), 2u);
    EXPECT_EQ(headers[0].d->FileTime, unrar::DosTimeFromUnix(timed.unixTime));
    const std::uint64_t fileTime = (timed.unixTime + 11644473600ULL) * 10000000ULL;
    EXPECT_EQ(headers[0].d->MtimeLow, static_cast<unsigned>(fileTime));
    EXPECT_EQ(headers[0].d->MtimeHigh, static_cast<unsigned>(fileTime >> 32));
    // No time in the header: nothing made up.
    EXPECT_EQ(headers[1].d->FileTime, 0u);
    EXPECT_EQ(headers[1].d->MtimeLow | headers[1].d->MtimeHigh, 0u);

    // A DOS time that is no date is passed on as it is.
    RarMember odd;
    odd.name = "odd.txt";
    odd.dosTime = 0xFFFFFFFF;
    RarBuilder b4;
    b4.Add(odd);
    b4.WriteTo(dir / "t4.rar");
    headers = ListHeaders(f, dir / "t4.rar");
    ASSERT_EQ(headers.size(), 1u);
    EXPECT_EQ(headers[0].d->FileTime, 0xFFFFFFFFu);
    EXPECT_EQ(headers[0].d->MtimeLow | headers[0].d->MtimeHigh, 0u);
}

TEST_F(RarLibrary, EncryptedRar5EntriesKeepTheirTimeAndAreListedWithoutAPassword) {
    REQUIRE_FIXTURES();
    auto headers = ListHeaders(f, FixturePath("test_read_format_rar5_solid_encrypted.rar"));
    ASSERT_EQ(headers.size(), 4u);
    EXPECT_STREQ(headers[3].d->FileName, "d.txt");
    EXPECT_EQ(headers[0].d->Flags & RHDF_ENCRYPTED, RHDF_ENCRYPTED);
    // a.txt's time record holds the FILETIME 0x01da7c82a384217c.
    EXPECT_EQ(headers[0].d->MtimeHigh, 0x01da7c82u);
    EXPECT_EQ(headers[0].d->MtimeLow, 0xa384217cu);
    const std::int64_t unixTime = 0x01da7c82a384217cLL / 10000000 - 11644473600LL;
    EXPECT_EQ(headers[0].d->FileTime, unrar::DosTimeFromUnix(unixTime));
}

TEST_F(RarLibrary, HashTypeSaysWhichChecksumAMemberCarries) {
    REQUIRE_FIXTURES();
    auto headers = ListHeaders(f, FixturePath("test_read_format_rar5_blake2.rar"));
    ASSERT_EQ(headers.size(), 1u);
    EXPECT_EQ(headers[0].d->HashType, RAR_HASH_BLAKE2);
    const unsigned char expected[4] = {0xe6, 0x7b, 0x86, 0x25};
    EXPECT_EQ(std::memcmp(headers[0].d->Hash, expected, 4), 0);

    headers = ListHeaders(f, FixturePath("test_read_format_rar5_stored.rar"));
    ASSERT_EQ(headers.size(), 1u);
    EXPECT_EQ(headers[0].d->HashType, RAR_HASH_CRC32);
    EXPECT_EQ(headers[0].d->FileCRC, 0x95A043B4u);
}

// A file version record names the entry "name;N" and the entry keeps the rest
// of its header.
TEST_F(RarLibrary, AVersionedEntryKeepsItsSizesCrcAndMethod) {
    test::Rar5Member m = Text5("save.sav", "version one");
    m.version = 1;
    test::Rar5Builder b;
    b.Add(m);
    b.WriteTo(dir / "v.rar");
    auto headers = ListHeaders(f, dir / "v.rar");
    ASSERT_EQ(headers.size(), 1u);
    EXPECT_STREQ(headers[0].d->FileName, "save.sav;1");
    EXPECT_EQ(headers[0].d->PackSize, m.data.size());
    EXPECT_EQ(headers[0].d->FileCRC, test::Crc32(m.data.data(), m.data.size()));
    EXPECT_EQ(headers[0].d->Method, 0x30u);
    auto entries = Run(dir / "v.rar", RAR_OM_EXTRACT, RAR_EXTRACT, dir / "out");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].result, 0);
    EXPECT_EQ(test::ReadText(dir / "out/save.sav;1"), "version one");
}

}  // namespace
}  // namespace parevo
