// ZipComponent's directory reader: writing ZipFileName, the end-record search, the
// entries, the errors, and the spanned-set prompts.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif
#include <algorithm>
#include <cctype>

#include <filesystem>
#include <string>

#include "archive/zip_component.h"
#include "archive/zip_fakes.h"
#include "support/temp_dir.h"
#include "support/zip_builder.h"

namespace parevo {
namespace {

using test::Bytes;
using test::ZipBuilder;
using test::ZipMember;

class ZipReader : public ::testing::Test {
  protected:
    std::string Write(const ZipBuilder& builder, const std::string& name = "a.zip") {
        const std::string path = dir / name;
        builder.WriteTo(path);
        return path;
    }
    std::string ErrorOf(const std::string& path) {
        try {
            zip.SetZipFileName(path);
        } catch (const ZipException& e) {
            return e.what();
        }
        return "(no error)";
    }

    test::TempDir dir;
    test::RecordingPrompter prompter;
    ZipComponent zip{prompter};
};

TEST_F(ZipReader, MissingFileBecomesAnEmptyArchive) {
    const std::string path = dir / "new.zip";
    int changed = 0;
    zip.OnContentsChanged = [&](ZipComponent* sender) {
        EXPECT_EQ(sender, &zip);
        ++changed;
    };
    zip.SetZipFileName(path);
    EXPECT_EQ(zip.Count(), 0);
    EXPECT_EQ(changed, 1);
    const auto bytes = test::ReadBytes(path);
    ASSERT_EQ(bytes.size(), 22u);
    EXPECT_EQ(bytes, Bytes(std::string("PK\x05\x06", 4) + std::string(18, '\0')));
    // And it reads back as an empty archive.
    zip.SetZipFileName(path);
    EXPECT_EQ(zip.Count(), 0);
    EXPECT_EQ(zip.EndRecord().EndRecordPosition, 0);
}

TEST_F(ZipReader, UncreatableAndUnreachablePathsAreReported) {
    EXPECT_EQ(ErrorOf(dir / "no-such-folder/x.zip"),
              "Unable to create \n\"" + (dir / "no-such-folder/x.zip") + "\"");
    EXPECT_EQ(zip.Count(), 0);

    test::FakeDrives drives;
    drives.reachable = false;
    ZipComponent offline(prompter, drives);
    try {
        offline.SetZipFileName(dir / "x.zip");
        FAIL() << "no error";
    } catch (const ZipException& e) {
        EXPECT_STREQ(e.what(), "Unable to access the selected drive!");
    }
    EXPECT_EQ(offline.ZipFileName(), dir / "x.zip");
    EXPECT_FALSE(std::filesystem::exists(dir / "x.zip"));
}

#ifndef _WIN32
TEST_F(ZipReader, PosixDriveCheckLooksAtTheNearestExistingFolder) {
    DriveInfo& drives = SystemDriveInfo();
    EXPECT_TRUE(drives.IsReachable(dir / "x.zip"));
    EXPECT_TRUE(drives.IsReachable(dir / "not/yet/there/x.zip"));
    test::WriteText(dir / "file", "");
    EXPECT_TRUE(drives.IsReachable(dir / "file/x.zip"));  // the folder is dir
    EXPECT_EQ(ErrorOf(dir / "file/x.zip"), "Unable to create \n\"" + (dir / "file/x.zip") + "\"");
    EXPECT_FALSE(drives.IsRemovable(dir / "x.zip"));
    EXPECT_FALSE(drives.VolumeLabel(dir / "x.zip"));
    if (::geteuid() != 0) {  // the superuser may search any folder
        std::filesystem::create_directory(dir / "locked");
        std::filesystem::permissions(dir / "locked", std::filesystem::perms::none);
        EXPECT_FALSE(drives.IsReachable(dir / "locked/x.zip"));
        EXPECT_EQ(ErrorOf(dir / "locked/x.zip"), "Unable to access the selected drive!");
        std::filesystem::permissions(dir / "locked", std::filesystem::perms::owner_all);
    }
}
#endif

TEST_F(ZipReader, EmptyPathClearsEverythingAndStillNotifies) {
    zip.SetZipFileName(Write(ZipBuilder().Stored("a.nds", "x")));
    zip.SetPassword("secret");
    ASSERT_EQ(zip.Count(), 1);
    int changed = 0;
    zip.OnContentsChanged = [&](ZipComponent*) { ++changed; };
    zip.SetZipFileName("");
    EXPECT_EQ(zip.Count(), 0);
    EXPECT_EQ(zip.Password(), "");
    EXPECT_EQ(zip.EndRecord().EndRecordPosition, -1);
    EXPECT_EQ(changed, 1);
}

TEST_F(ZipReader, FilesWithoutAnEndRecordAreNotZipFiles) {
    const std::string shortFile = dir / "short.zip";
    test::WriteBytes(shortFile, Bytes(std::string("PK\x05\x06", 4) + std::string(17, '\0')));
    EXPECT_EQ(ErrorOf(shortFile), "\"" + shortFile + "\"\nis not a valid Zip file.");

    // A signature further back than 65,535 bytes from the end is not looked for.
    const std::string far =
        Write(ZipBuilder().Stored("a.nds", "x").Trailer(std::vector<std::uint8_t>(65535 - 21, 0)),
              "far.zip");
    EXPECT_EQ(ErrorOf(far), "\"" + far + "\"\nis not a valid Zip file.");
    EXPECT_EQ(zip.Count(), 0);

    const std::string near =
        Write(ZipBuilder().Stored("a.nds", "x").Trailer(std::vector<std::uint8_t>(65535 - 22, 0)),
              "near.zip");
    zip.SetZipFileName(near);
    EXPECT_EQ(zip.Count(), 1);

    const std::string bigDisk = Write(ZipBuilder().Stored("a.nds", "x").DiskNumbers(0, 1001));
    EXPECT_EQ(ErrorOf(bigDisk), "\"" + bigDisk + "\"\nis not a valid Zip file.");
}

TEST_F(ZipReader, CommentAndDataInFrontAreHandled) {
    const std::string comment = "archive comment PK\x05\x06 inside";
    const std::string path = Write(ZipBuilder()
                                       .Prefix(std::vector<std::uint8_t>(3000, 0x90))
                                       .Stored("one.nds", "111")
                                       .Deflated("dir/two.nds", std::string(5000, 'z'))
                                       .Comment(comment));
    zip.SetZipFileName(path);
    ASSERT_EQ(zip.Count(), 2);
    EXPECT_EQ(zip.EndRecord().Comment, comment);
    EXPECT_EQ(zip.EndRecord().Record.TotalEntries, 2);
    EXPECT_EQ(zip.EndRecord().EndRecordPosition,
              static_cast<std::int64_t>(std::filesystem::file_size(path) - 22 - comment.size()));
    EXPECT_EQ(zip.GetEntry(0).FileName, "one.nds");
    EXPECT_EQ(zip.GetEntry(1).FileName, "dir/two.nds");
    EXPECT_EQ(zip.GetEntry(1).Header.CompressionMethod, 8);
    EXPECT_EQ(zip.GetEntry(1).Header.UncomprSize, 5000u);
}

TEST_F(ZipReader, EntryCarriesHeaderBytesExtraAndComment) {
    ZipMember member;
    member.name = "x/game.nds";
    member.data = Bytes("rom");
    member.extra = std::string("\x55\x54\x05\x00\x01\x02\x03\x04\x05", 9);
    member.comment = "nice";
    member.password = "pw";
    member.dosTime = 0x1234;
    zip.SetZipFileName(Write(ZipBuilder().Add(member)));
    const ZipEntry entry = zip.GetEntry(0);
    EXPECT_EQ(entry.Header.Signature, kZipCentralHeaderSignature);
    EXPECT_EQ(entry.Header.HostSystem, 3);
    EXPECT_EQ(entry.Header.FormatVersion, 30);
    EXPECT_EQ(entry.Header.ModifTime, 0x1234);
    EXPECT_EQ(entry.Header.FileNameLen, 10);
    EXPECT_TRUE(entry.Encrypted);
    EXPECT_EQ(entry.ExtraField, member.extra);
    EXPECT_EQ(entry.FileComment, "nice");
    EXPECT_EQ(entry.FileName, "x/game.nds");
}

TEST_F(ZipReader, FirstEntryDecidesTheOemRuleForAll) {
    ZipMember fat;
    fat.name = "dir\\\x82t\x82.nds";  // "été" written by a FAT tool
    fat.hostSystem = 0;
    fat.formatVersion = 20;
    fat.comment = "\x81";
    ZipMember unixMember;
    unixMember.name = "\x82.nds";
    ZipMember utf8;
    utf8.name = "\xC3\xA9t\xC3\xA9.nds";
    utf8.flags = kZipFlagUtf8Names;
    zip.SetZipFileName(Write(ZipBuilder().Add(fat).Add(unixMember).Add(utf8)));
    ASSERT_EQ(zip.Count(), 3);
    EXPECT_EQ(zip.GetEntry(0).FileName, "dir/\xC3\xA9t\xC3\xA9.nds");
    EXPECT_EQ(zip.GetEntry(0).FileComment, "\xC3\xBC");
    EXPECT_EQ(zip.GetEntry(1).FileName, "\xC3\xA9.nds");           // converted: entry 0 was FAT
    EXPECT_EQ(zip.GetEntry(2).FileName, "\xC3\xA9t\xC3\xA9.nds");  // UTF-8 flag wins

    // A Unix first entry: later FAT entries are taken as stored.
    zip.SetZipFileName(Write(ZipBuilder().Add(unixMember).Add(fat), "b.zip"));
    EXPECT_EQ(zip.GetEntry(0).FileName, "\x82.nds");
    EXPECT_EQ(zip.GetEntry(1).FileName, "dir/\x82t\x82.nds");
}

TEST_F(ZipReader, BrokenDirectoriesEmptyTheList) {
    const std::string good = Write(ZipBuilder().Stored("a.nds", "a"), "good.zip");
    zip.SetZipFileName(good);
    ASSERT_EQ(zip.Count(), 1);

    const std::string badSignature = Write(
        ZipBuilder().Stored("a.nds", "a").Stored("b.nds", "b").BreakCentralSignature(1), "s.zip");
    EXPECT_EQ(ErrorOf(badSignature), "Error reading CentralFileHeader.");
    EXPECT_EQ(zip.Count(), 0);

    zip.SetZipFileName(good);
    const std::string cut =
        Write(ZipBuilder().Stored("a.nds", "a").Stored("bbbbbbbbbbbbb.nds", "b").CutDirectory(40),
              "cut.zip");
    EXPECT_EQ(ErrorOf(cut), "Error reading CentralFileHeader.");
    EXPECT_EQ(zip.Count(), 0);

    const std::string tooMany = Write(ZipBuilder().Stored("a.nds", "a").TotalEntries(2), "m.zip");
    EXPECT_EQ(ErrorOf(tooMany), "Error reading CentralFileHeader.");

    // A directory size larger than the file puts the start before byte 0.
    ZipBuilder huge;
    auto bytes = huge.Stored("a.nds", "a").Build();
    bytes[bytes.size() - 22 + 12] = 0xFF;
    bytes[bytes.size() - 22 + 13] = 0xFF;
    test::WriteBytes(dir / "huge.zip", bytes);
    EXPECT_EQ(ErrorOf(dir / "huge.zip"), "Error reading CentralFileHeader.");
}

TEST_F(ZipReader, GetEntryChecksItsIndex) {
    zip.SetZipFileName(Write(ZipBuilder().Stored("a.nds", "a").Stored("b.nds", "b")));
    EXPECT_EQ(zip.GetEntry(1).FileName, "b.nds");
    for (const int bad : {-1, 2, 100}) {
        try {
            zip.GetEntry(bad);
            ADD_FAILURE() << "no error for " << bad;
        } catch (const ZipException& e) {
            EXPECT_STREQ(e.what(), "Index range error");
        }
    }
}

TEST_F(ZipReader, DirectoryOnAnotherDiskIsAskedForAndCancelEndsQuietly) {
    test::FakeDrives drives;
    ZipComponent spanned(prompter, drives);
    const std::string path = Write(ZipBuilder().Stored("a.nds", "a").DiskNumbers(2, 1));
    drives.labels[path] = "PKBACK# 003";
    prompter.messageAnswers = {DialogResult::Cancel};
    spanned.SetZipFileName(path);
    EXPECT_EQ(spanned.Count(), 0);
    ASSERT_EQ(prompter.asked.size(), 1u);
    EXPECT_EQ(prompter.asked[0].text,
              "Insert [ Disk 1 ] of the Zip file into the floppy drive\nbefore pressing [ OK ] "
              "to continue ...");
    EXPECT_EQ(prompter.asked[0].buttons, DialogButtons::OkCancel);
    EXPECT_EQ(prompter.asked[0].icon, DialogIcon::Information);
    EXPECT_EQ(prompter.asked[0].caption, spanned.Caption);
}

TEST_F(ZipReader, LastDiskIsAskedForWhenTheEndRecordIsMissing) {
    test::FakeDrives drives;
    ZipComponent spanned(prompter, drives);
    const std::string path = dir / "disk.zip";
    test::WriteBytes(path, std::vector<std::uint8_t>(100, 0));
    drives.labels[path] = "PKBACK# 001";

    // OK: the "last disk" is now in the drive and the search starts over.
    class SwapDisk : public test::RecordingPrompter {
      public:
        std::string path;
        DialogResult ShowMessage(const std::string& c, const std::string& t, DialogButtons b,
                                 DialogIcon i, int d) override {
            RecordingPrompter::ShowMessage(c, t, b, i, d);
            ZipBuilder().Stored("last.nds", "x").DiskNumbers(0, 0).WriteTo(path);
            return DialogResult::Ok;
        }
    } swap;
    swap.path = path;
    ZipComponent swapping(swap, drives);
    swapping.SetZipFileName(path);
    ASSERT_EQ(swap.asked.size(), 1u);
    EXPECT_EQ(swap.asked[0].text,
              "This is [ Disk 1 ] of a multiple disk Zip file.\nInsert the last disk of the Zip "
              "file before pressing [ OK ] to continue ...");
    EXPECT_EQ(swapping.Count(), 1);

    // Cancel: an empty list, no error.
    test::WriteBytes(path, std::vector<std::uint8_t>(100, 0));
    prompter.messageAnswers = {DialogResult::Cancel};
    spanned.SetZipFileName(path);
    EXPECT_EQ(spanned.Count(), 0);
    EXPECT_EQ(prompter.asked.size(), 1u);
}

TEST_F(ZipReader, SpannedArchiveIsListedButNotExtracted) {
    test::FakeDrives drives;
    ZipComponent spanned(prompter, drives);
    const std::string path = Write(ZipBuilder().Stored("a.nds", "a").DiskNumbers(1, 1));
    drives.labels[path] = "PKBACK# 001";
    spanned.SetZipFileName(path);
    ASSERT_EQ(spanned.Count(), 1);
    spanned.FileSpecs().push_back("a.nds");
    spanned.SetLibraryFileName(dir / "nothing-here.so");  // never loaded
    EXPECT_EQ(spanned.Extract(), 0);
    ASSERT_EQ(prompter.asked.size(), 1u);
    EXPECT_EQ(prompter.asked[0].text,
              "Cannot Add, Delete or Extract from a multiple disk Zip file...\nMerge this Zip "
              "file onto the hard disk before retrying.");
    EXPECT_EQ(spanned.FileSpecs().size(), 1u);
}

// Archives written by other tools.
class ZipFixtures : public ZipReader {
  protected:
    void SetUp() override {
        if (!std::filesystem::is_directory(folder)) {
            FAIL() << "fixtures missing at " << folder;
        }
    }
    std::string folder = std::string(PAREVO_FIXTURES_DIR) + "/zip/";
};

struct FixtureCase {
    std::string file;
    int count;
    int index;  // an entry whose name is checked
    std::string name;
};

void PrintTo(const FixtureCase& c, std::ostream* os) {
    *os << c.file;
}

class ZipFixtureNames : public ZipFixtures, public ::testing::WithParamInterface<FixtureCase> {};

TEST_P(ZipFixtureNames, ListsTheEntriesOfOtherTools) {
    const FixtureCase& c = GetParam();
    zip.SetZipFileName(folder + c.file);
    ASSERT_EQ(zip.Count(), c.count);
    EXPECT_EQ(zip.GetEntry(c.index).FileName, c.name);
}

INSTANTIATE_TEST_SUITE_P(
    Archives, ZipFixtureNames,
    ::testing::Values(FixtureCase{"test_read_format_zip.zip", 3, 2, "file2"},
                      FixtureCase{"test_read_format_zip_comment_stored_1.zip", 2, 1, "build.sh"},
                      // Data in front of the archive.
                      FixtureCase{"test_read_format_zip_sfx", 2, 1, "build.sh"},
                      // FAT host, "\" written by a DOS tool.
                      FixtureCase{"test_compat_zip_8.zip", 1, 0, "arc/test"},
                      FixtureCase{"test_read_format_zip_filename_utf8_ru.zip", 2, 0,
                                  "\xD0\x9F\xD0\xA0\xD0\x98\xD0\x92\xD0\x95\xD0\xA2"},
                      // Unix host without the UTF-8 flag: the bytes (code page 866) as stored.
                      FixtureCase{"test_read_format_zip_filename_cp866.zip", 2, 0,
                                  "\x8f\x90\x88\x82\x85\x92"}),
    [](const auto& info) {
        std::string name = info.param.file.substr(0, info.param.file.find('.'));
        std::replace_if(
            name.begin(), name.end(),
            [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
        return name;
    });

TEST_F(ZipFixtures, FlagsCommentsAndErrorsOfOtherTools) {
    zip.SetZipFileName(folder + "test_read_format_zip.zip");
    ASSERT_EQ(zip.Count(), 3);
    EXPECT_EQ(zip.GetEntry(0).FileName, "dir/");
    EXPECT_EQ(zip.GetEntry(1).Header.Flag & 8, 8);  // data descriptor

    zip.SetZipFileName(folder + "test_read_format_zip_comment_stored_1.zip");
    EXPECT_EQ(zip.EndRecord().Comment.size(), 36u);

    zip.SetZipFileName(folder + "test_read_format_zip_traditional_encryption_data.zip");
    ASSERT_EQ(zip.Count(), 2);
    EXPECT_TRUE(zip.GetEntry(0).Encrypted);

    const std::string bad = folder + "test_read_format_zip_malformed1.zip";
    EXPECT_EQ(ErrorOf(bad), "\"" + bad + "\"\nis not a valid Zip file.");
}

}  // namespace
}  // namespace parevo
