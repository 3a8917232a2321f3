// The unzip library's own rules, driven through ZipComponent::Extract: names that would
// leave the target folder, existing files, damaged and encrypted members, and
// archives made by other tools.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif
#ifndef _WIN32
#include <sys/wait.h>
#endif
#ifndef _WIN32
#include <unistd.h>
#endif
#include <zip.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "archive/zip_component.h"
#include "archive/zip_fakes.h"
#include "platform/batch_prompter.h"
#include "support/temp_dir.h"
#include "support/zip_builder.h"

namespace parevo {
namespace {

namespace fs = std::filesystem;
using test::ZipBuilder;
using test::ZipMember;

class ZipLibrary : public ::testing::Test {
  protected:
    void SetUp() override {
        zip.SetShowProgressDialog(false);
        zip.OnEndBatch = [this](ZipComponent*, std::int32_t s, std::int32_t, std::int32_t) {
            skipped = s;
        };
        fs::create_directory(target);
    }
    // Lists the archive's .nds members into FileSpecs, as the pipeline does.
    void ListAndQueue(const std::string& archive) {
        zip.SetZipFileName(archive);
        for (int k = 0; k < zip.Count(); ++k) {
            zip.FileSpecs().push_back(zip.GetEntry(k).FileName);
        }
    }
    std::string InTarget(const ZipBuilder& builder) {
        const std::string path = target + "/a.zip";
        builder.WriteTo(path);
        return path;
    }

    test::TempDir dir;
    std::string target = dir / "target";
    test::RecordingPrompter prompter;
    ZipComponent zip{prompter};
    int skipped = -1;
};

TEST_F(ZipLibrary, MaliciousNamesWriteNothingOutsideTheTarget) {
    fs::create_directory(dir / "outside");
    fs::create_directory_symlink(dir / "outside", target + "/link");
    ZipMember windowsDotDot;
    windowsDotDot.name = "..\\evil3.nds";
    windowsDotDot.data = test::Bytes("x");
    windowsDotDot.hostSystem = 0;
    ListAndQueue(InTarget(ZipBuilder()
                              .Add(windowsDotDot)
                              .Stored("../evil1.nds", "x")
                              .Stored(dir / "outside/abs.nds", "x")
                              .Stored("C:/evil4.nds", "x")
                              .Stored("ok/../../evil2.nds", "x")
                              .Stored("link/through.nds", "x")
                              .Stored("./fine/good.nds", "good")));
    ASSERT_EQ(zip.FileSpecs().size(), 7u);
    EXPECT_EQ(zip.FileSpecs()[0], "../evil3.nds");
    EXPECT_EQ(zip.Extract(), 1);
    EXPECT_EQ(skipped, 6);
    EXPECT_EQ(test::ReadText(target + "/fine/good.nds"), "good");
    EXPECT_TRUE(fs::is_empty(dir / "outside"));
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"outside", "target"}));
    std::vector<std::string> inTarget;
    for (const auto& e : fs::recursive_directory_iterator(target)) {
        inTarget.push_back(e.path().lexically_relative(target).string());
    }
    std::sort(inTarget.begin(), inTarget.end());
    EXPECT_EQ(inTarget, (std::vector<std::string>{"a.zip", "fine", "fine/good.nds", "link"}));
}

TEST_F(ZipLibrary, NamesAtTheLengthLimitAreWritten) {
    const std::string name = std::string(251, 'n') + ".nds";  // 255 bytes
    ListAndQueue(InTarget(ZipBuilder().Stored(name, "long")));
    EXPECT_EQ(zip.Extract(), 1);
    EXPECT_EQ(test::ReadText(target + "/" + name), "long");
}

TEST_F(ZipLibrary, ExistingFileIsReplacedOnlyWhenOlderThanTheMember) {
    ZipMember member;  // dated 2024-01-01 12:00
    member.name = "game.nds";
    member.data = test::Bytes("new");
    ListAndQueue(InTarget(ZipBuilder().Add(member)));
    const std::string onDisk = target + "/game.nds";

    test::WriteText(onDisk, "old");
    fs::last_write_time(onDisk,
                        fs::file_time_type::clock::now() - std::chrono::hours(24 * 365 * 10));
    EXPECT_EQ(zip.Extract(), 1);
    EXPECT_EQ(test::ReadText(onDisk), "new");
    // The member's date goes with it.
    const auto written = fs::last_write_time(onDisk);
    EXPECT_LT(written, fs::file_time_type::clock::now() - std::chrono::hours(24 * 300));

    test::WriteText(onDisk, "newer");
    zip.FileSpecs() = {"game.nds"};
    EXPECT_EQ(zip.Extract(), 0);
    EXPECT_EQ(skipped, 1);
    EXPECT_EQ(test::ReadText(onDisk), "newer");
}

TEST_F(ZipLibrary, DamagedMemberIsKeptOnlyWhenTheUserSaysYes) {
    ZipMember bad;
    bad.name = "bad.nds";
    bad.data = test::Bytes(std::string(70000, 'q'));
    bad.deflate = true;
    bad.crc = 0x12345678;
    const std::string archive = InTarget(ZipBuilder().Add(bad).Stored("good.nds", "g"));

    prompter.messageAnswers = {DialogResult::No};
    ListAndQueue(archive);
    EXPECT_EQ(zip.Extract(), 1);
    EXPECT_EQ(skipped, 1);
    EXPECT_FALSE(fs::exists(target + "/bad.nds"));
    ASSERT_EQ(prompter.asked.size(), 1u);
    EXPECT_EQ(prompter.asked[0].text,
              "\"bad.nds\" may be corrupted (CRC error).\nExtract this file anyway? ...");

    prompter.messageAnswers = {DialogResult::Yes};
    fs::remove(target + "/good.nds");
    ListAndQueue(archive);
    EXPECT_EQ(zip.Extract(), 2);
    EXPECT_EQ(test::ReadText(target + "/bad.nds"), std::string(70000, 'q'));

    prompter.messageAnswers = {DialogResult::Cancel};
    fs::remove(target + "/bad.nds");
    fs::remove(target + "/good.nds");
    ListAndQueue(archive);
    EXPECT_EQ(zip.Extract(), 0);
    EXPECT_TRUE(zip.Cancelled());
    EXPECT_EQ(fs::directory_iterator(target)->path().filename(), "a.zip");
    EXPECT_EQ(std::distance(fs::directory_iterator(target), fs::directory_iterator()), 1);
}

// Data that inflates past the size the headers declare (a "zip bomb") is
// damage: nothing past that size is written, and the member is kept, cut to
// that size, only when the user says so.
TEST_F(ZipLibrary, MemberIsNeverWrittenPastItsDeclaredSize) {
    ZipMember bomb;
    bomb.name = "bomb.nds";
    bomb.data = std::vector<std::uint8_t>(8 << 20, 0);  // deflates to a few KiB
    bomb.deflate = true;
    bomb.size = 1000;
    const std::string archive = InTarget(ZipBuilder().Add(bomb).Stored("good.nds", "g"));

    prompter.messageAnswers = {DialogResult::No};
    ListAndQueue(archive);
    EXPECT_EQ(zip.Extract(), 1);
    EXPECT_EQ(skipped, 1);
    ASSERT_EQ(prompter.asked.size(), 1u);
    EXPECT_NE(prompter.asked[0].text.find("\"bomb.nds\" may be corrupted"), std::string::npos);
    std::vector<std::string> left;
    for (const auto& item : fs::directory_iterator(target)) {
        left.push_back(item.path().filename().string());
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"a.zip", "good.nds"}));

    prompter.messageAnswers = {DialogResult::Yes};
    fs::remove(target + "/good.nds");
    ListAndQueue(archive);
    EXPECT_EQ(zip.Extract(), 2);
    EXPECT_EQ(test::ReadBytes(target + "/bomb.nds"), std::vector<std::uint8_t>(1000, 0));
}

ZipBuilder Encrypted() {
    ZipMember one;
    one.name = "one.nds";
    one.data = test::Bytes(std::string(5000, '1'));
    one.deflate = true;
    one.password = "secret";
    ZipMember two = one;
    two.name = "two.nds";
    two.data = test::Bytes("two");
    two.deflate = false;
    return ZipBuilder().Add(one).Add(two).Stored("plain.nds", "p");
}

TEST_F(ZipLibrary, PasswordIsAskedOnceAndRetriedWhenWrong) {
    ListAndQueue(InTarget(Encrypted()));
    prompter.inputAnswers = {{true, "wrong"}, {true, "secret"}};
    EXPECT_EQ(zip.Extract(), 3);
    ASSERT_EQ(prompter.asked.size(), 2u);
    EXPECT_EQ(prompter.asked[0].text, "A new password is required for \"one.nds\"");
    EXPECT_EQ(prompter.asked[1].text, "Password is invalid, please retry ...");
    EXPECT_EQ(test::ReadText(target + "/one.nds"), std::string(5000, '1'));
    EXPECT_EQ(test::ReadText(target + "/two.nds"), "two");
}

TEST_F(ZipLibrary, ThreeWrongPasswordsSkipTheMember) {
    ListAndQueue(InTarget(ZipBuilder().Add([] {
        ZipMember m;
        m.name = "one.nds";
        m.data = test::Bytes("1111");
        m.password = "secret";
        return m;
    }())));
    prompter.inputAnswers = {{true, "a"}, {true, "b"}, {true, "c"}, {true, "secret"}};
    EXPECT_EQ(zip.Extract(), 0);
    EXPECT_EQ(prompter.asked.size(), 3u);
    EXPECT_EQ(skipped, 1);
    EXPECT_FALSE(fs::exists(target + "/one.nds"));
}

TEST_F(ZipLibrary, NoPasswordSkipsOrStopsAsTheUserSays) {
    const std::string archive = InTarget(Encrypted());
    ListAndQueue(archive);
    prompter.messageAnswers = {DialogResult::Yes, DialogResult::Yes};
    EXPECT_EQ(zip.Extract(), 1);  // plain.nds only
    EXPECT_EQ(skipped, 2);
    EXPECT_TRUE(fs::exists(target + "/plain.nds"));
    fs::remove(target + "/plain.nds");

    ListAndQueue(archive);
    prompter.messageAnswers = {DialogResult::No};
    EXPECT_EQ(zip.Extract(), 0);
    EXPECT_TRUE(zip.Cancelled());
    EXPECT_FALSE(fs::exists(target + "/plain.nds"));
}

TEST_F(ZipLibrary, PasswordGivenBeforehandAsksNothing) {
    ListAndQueue(InTarget(Encrypted()));
    zip.SetPassword("secret");
    EXPECT_EQ(zip.Extract(), 3);
    EXPECT_TRUE(prompter.asked.empty());
}

TEST_F(ZipLibrary, BatchPrompterExtractsWithoutAPerson) {
    std::vector<std::string> said;
    BatchPrompter batch("secret", [&](const std::string& text) { said.push_back(text); });
    ZipComponent cli(batch);
    cli.SetShowProgressDialog(false);
    ZipMember bad;
    bad.name = "bad.nds";
    bad.data = test::Bytes("bad");
    bad.crc = 1;
    ZipBuilder builder = Encrypted();
    builder.Add(bad);
    const std::string archive = InTarget(builder);
    cli.SetZipFileName(archive);
    cli.FileSpecs() = {"one.nds", "two.nds", "plain.nds", "bad.nds"};
    EXPECT_EQ(cli.Extract(), 3);
    EXPECT_FALSE(fs::exists(target + "/bad.nds"));
    EXPECT_EQ(said.size(), 2u);  // the password prompt and the damage question

    // No password given: the encrypted members are passed over, the rest extracted.
    for (const char* name : {"one.nds", "two.nds", "plain.nds"}) {
        fs::remove(target + "/" + name);
    }
    BatchPrompter none;
    ZipComponent cli2(none);
    cli2.SetShowProgressDialog(false);
    cli2.SetZipFileName(archive);
    cli2.FileSpecs() = {"one.nds", "two.nds", "plain.nds"};
    EXPECT_EQ(cli2.Extract(), 1);
    EXPECT_FALSE(cli2.Cancelled());
    EXPECT_TRUE(fs::exists(target + "/plain.nds"));
}

TEST_F(ZipLibrary, AesMembersOpenWithTheirPassword) {
    if (zip_encryption_method_supported(ZIP_EM_AES_256, 1) == 0) {
        GTEST_SKIP() << "this libzip writes no AES";
    }
    // Written by libzip itself, as another tool would.
    const std::string path = target + "/aes.zip";
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_NE(archive, nullptr);
    static const char data[] = "aes protected rom";
    zip_source_t* source = zip_source_buffer(archive, data, sizeof data - 1, 0);
    const zip_int64_t index = zip_file_add(archive, "aes.nds", source, 0);
    ASSERT_GE(index, 0);
    ASSERT_EQ(zip_file_set_encryption(archive, static_cast<zip_uint64_t>(index), ZIP_EM_AES_256,
                                      "secret"),
              0);
    ASSERT_EQ(zip_close(archive), 0);

    ListAndQueue(path);
    EXPECT_TRUE(zip.GetEntry(0).Encrypted);
    prompter.inputAnswers = {{true, "wrong"}, {true, "secret"}};
    EXPECT_EQ(zip.Extract(), 1);
    EXPECT_EQ(prompter.asked.size(), 2u);
    EXPECT_EQ(test::ReadText(target + "/aes.nds"), "aes protected rom");
}

TEST_F(ZipLibrary, ArchiveGoneBeforeExtractSkipsEverything) {
    const std::string archive = InTarget(ZipBuilder().Stored("a.nds", "a"));
    ListAndQueue(archive);
    fs::remove(archive);
    EXPECT_EQ(zip.Extract(), 0);
    EXPECT_EQ(skipped, 1);
}

#ifndef _WIN32
TEST_F(ZipLibrary, AFifoInTheArchivesPlaceIsNeverWaitedOn) {
    // Listed as an archive, then a FIFO under its name: an ordinary open would wait
    // for a writer for ever. The extraction runs in a child that is killed if it
    // hangs.
    const std::string archive = InTarget(ZipBuilder().Stored("a.nds", "a"));
    ListAndQueue(archive);
    fs::remove(archive);
    ASSERT_EQ(::mkfifo(archive.c_str(), 0644), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(zip.Extract() == 0 && skipped == 1 ? 0 : 1);
    }
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            FAIL() << "the extraction waited on the FIFO";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_FALSE(fs::exists(target + "/a.nds"));
}
#endif

class ZipLibraryFixtures : public ZipLibrary {
  protected:
    void SetUp() override {
        if (!fs::is_directory(folder)) {
            FAIL() << "fixtures missing at " << folder;
        }
        ZipLibrary::SetUp();
    }
    std::string Copy(const std::string& name) {
        fs::copy_file(folder + name, target + "/" + name);
        return target + "/" + name;
    }
    std::string folder = std::string(PAREVO_FIXTURES_DIR) + "/zip/";
};

TEST_F(ZipLibraryFixtures, ExtractsWhatOtherToolsWrote) {
    ListAndQueue(Copy("test_read_format_zip_sfx"));  // data in front
    EXPECT_EQ(zip.Extract(), 2);
    EXPECT_EQ(test::ReadText(target + "/build.sh"), "#!/bin/sh\necho \"test.\"\n");

    // Data descriptors, a folder entry, and file2 stored with a wrong CRC.
    ListAndQueue(Copy("test_read_format_zip.zip"));
    prompter.messageAnswers = {DialogResult::No};
    EXPECT_EQ(zip.Extract(), 2);
    EXPECT_TRUE(fs::is_directory(target + "/dir"));
    EXPECT_EQ(test::ReadText(target + "/file1"), "hello\nhello\nhello\n");
    EXPECT_FALSE(fs::exists(target + "/file2"));
    ASSERT_EQ(prompter.asked.size(), 1u);
    EXPECT_EQ(prompter.asked[0].text,
              "\"file2\" may be corrupted (CRC error).\nExtract this file anyway? ...");
    prompter.asked.clear();

    ListAndQueue(Copy("test_compat_zip_8.zip"));  // "arc\test" from a DOS tool
    EXPECT_EQ(zip.Extract(), 1);
    EXPECT_EQ(fs::file_size(target + "/arc/test"), 14u);

    ListAndQueue(Copy("test_read_format_zip_filename_utf8_ru.zip"));
    EXPECT_EQ(zip.Extract(), 2);
    EXPECT_TRUE(fs::exists(target + "/\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"));

    ListAndQueue(Copy("test_read_format_zip_traditional_encryption_data.zip"));
    prompter.inputAnswers = {{true, "12345678"}};
    EXPECT_EQ(zip.Extract(), 2);
    EXPECT_EQ(prompter.asked.size(), 1u);
    EXPECT_EQ(fs::file_size(target + "/foo.txt"), 495u);
}

}  // namespace
}  // namespace parevo
