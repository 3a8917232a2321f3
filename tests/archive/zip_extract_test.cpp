// ZipComponent::Extract with the real unzip library: the events and their values, the
// answers to the library's questions, the dialog seam, cancelling, and the
// library's loading.
#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "archive/zip_component.h"
#include "archive/zip_fakes.h"
#include "support/temp_dir.h"
#include "support/zip_builder.h"

namespace parevo {
namespace {

namespace fs = std::filesystem;
using test::ZipBuilder;
using test::ZipMember;

std::string Pattern(size_t size) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        data[i] = static_cast<char>((i * 7919) >> 5);
    }
    return data;
}

// Every event and every callback, in order.
class ZipExtract : public ::testing::Test {
  protected:
    void SetUp() override {
        zip.OnBeginFile = [this](ZipComponent* sender, const std::string& name, std::int32_t size,
                                 std::int32_t batch, std::int32_t total) {
            EXPECT_EQ(sender, &zip);
            log.push_back("begin " + name + " " + std::to_string(size) + " " +
                          std::to_string(batch) + " " + std::to_string(total));
        };
        zip.OnProgress = [this](ZipComponent* sender, const std::string& name, std::int32_t done,
                                std::int32_t total) {
            EXPECT_EQ(sender, &zip);
            log.push_back("progress " + name + " " + std::to_string(done) + " " +
                          std::to_string(total));
        };
        zip.OnEndBatch = [this](ZipComponent* sender, std::int32_t skipped, std::int32_t batch,
                                std::int32_t total) {
            EXPECT_EQ(sender, &zip);
            log.push_back("end " + std::to_string(skipped) + " " + std::to_string(batch) + " " +
                          std::to_string(total));
        };
        zip.ProcessMessages = [this] { ++breaths; };
        zip.SetShowProgressDialog(false);
    }

    std::string Archive(const ZipBuilder& builder) {
        const std::string path = dir / "a.zip";
        builder.WriteTo(path);
        zip.SetZipFileName(path);
        return path;
    }

    test::TempDir dir;
    test::RecordingPrompter prompter;
    ZipComponent zip{prompter};
    std::vector<std::string> log;
    int breaths = 0;
};

TEST_F(ZipExtract, EventsCarryTheLibrarysStepsInOrder) {
    const std::string big = Pattern(300000);
    Archive(ZipBuilder()
                .Stored("a.nds", std::string(1000, 'a'))
                .Deflated("dir/b.nds", big)
                .Stored("c.txt", "not asked for"));
    zip.FileSpecs() = {"a.nds", "dir/b.nds"};
    EXPECT_EQ(zip.Extract(), 2);
    const std::vector<std::string> expected = {
        "begin a.nds 1000 2 301000",       "progress a.nds 1000 301000",
        "begin dir/b.nds 300000 2 301000", "progress dir/b.nds 262144 301000",
        "progress dir/b.nds 37856 301000", "end 0 2 301000",
    };
    EXPECT_EQ(log, expected);
    // 5 and 6 come before the first member and fire no event: 8 callbacks.
    EXPECT_EQ(breaths, 8);
    EXPECT_EQ(test::ReadText(dir / "a.nds"), std::string(1000, 'a'));
    EXPECT_EQ(test::ReadText(dir / "dir/b.nds"), big);
    EXPECT_FALSE(fs::exists(dir / "c.txt"));
    EXPECT_TRUE(zip.FileSpecs().empty());
    EXPECT_TRUE(prompter.asked.empty());
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"a.nds", "a.zip", "dir"}));
}

TEST_F(ZipExtract, NamesWithoutAMemberAreSkipped) {
    Archive(ZipBuilder().Stored("a.nds", "aa"));
    zip.FileSpecs() = {"missing.nds", "a.nds", "A.NDS"};
    EXPECT_EQ(zip.Extract(), 1);
    EXPECT_EQ(log.back(), "end 2 1 2");
}

TEST_F(ZipExtract, EmptyFileSpecsStillRunTheLibrary) {
    Archive(ZipBuilder().Stored("a.nds", "aa"));
    EXPECT_EQ(zip.Extract(), 0);
    EXPECT_EQ(log, std::vector<std::string>{"end 0 0 0"});
}

TEST_F(ZipExtract, NothingIsAttemptedWithoutEntriesOrWithoutATargetFolder) {
    zip.SetLibraryFileName(dir / "not-there.so");  // loading it would throw
    zip.SetZipFileName(dir / "empty.zip");
    zip.FileSpecs() = {"a.nds"};
    EXPECT_EQ(zip.Extract(), 0);
    EXPECT_EQ(zip.FileSpecs().size(), 1u);

    Archive(ZipBuilder().Stored("a.nds", "aa"));
    zip.FileSpecs() = {"a.nds"};
    zip.SetExtractDir(dir / "nowhere");
    EXPECT_EQ(zip.Extract(), 0);
    ASSERT_EQ(prompter.asked.size(), 1u);
    EXPECT_EQ(prompter.asked[0].text, "Unable to extract files to:\n\"" + (dir / "nowhere") +
                                          "\"\nThis folder does not exist.");
    EXPECT_EQ(prompter.asked[0].icon, DialogIcon::Information);
    EXPECT_EQ(zip.FileSpecs().size(), 1u);
    EXPECT_TRUE(log.empty());
}

TEST_F(ZipExtract, ExtractDirAndRelativeArchivePathsGiveAbsoluteTargets) {
    Archive(ZipBuilder().Stored("sub/a.nds", "aa"));
    fs::create_directory(dir / "out");
    zip.SetExtractDir(dir / "out");
    zip.FileSpecs() = {"sub/a.nds"};
    EXPECT_EQ(zip.Extract(), 1);
    EXPECT_EQ(test::ReadText(dir / "out/sub/a.nds"), "aa");

    // An archive named relative to the current folder extracts beside itself,
    // and the current folder stays where it was.
    const fs::path before = fs::current_path();
    const fs::path relative = fs::relative(dir / "a.zip", before);
    zip.SetExtractDir("");
    zip.SetZipFileName(relative.string());
    zip.FileSpecs() = {"sub/a.nds"};
    EXPECT_EQ(zip.Extract(), 1);
    EXPECT_EQ(test::ReadText(dir / "sub/a.nds"), "aa");
    EXPECT_EQ(fs::current_path(), before);
}

TEST_F(ZipExtract, MissingLibraryAndTooOldLibraryAreReported) {
    Archive(ZipBuilder().Stored("a.nds", "aa"));
    EXPECT_EQ(zip.LibraryFileName(), SharedLibraryFileName("UnzDll", "unzdll"));

    // Looked for in a folder that lacks it.
    const std::string missing = dir / SharedLibraryFileName("UnzDll", "unzdll");
    zip.SetLibraryFileName(missing);
    zip.FileSpecs() = {"a.nds"};
    try {
        zip.Extract();
        FAIL() << "no error";
    } catch (const ZipException& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to load \"" + missing + "\".");
    }

    // A library without the entry points is not loaded either.
    const std::string other = SharedLibraryFileName("zlib1", "z");
    zip.SetLibraryFileName(other);
    EXPECT_THROW(zip.Extract(), ZipException);

    zip.SetLibraryFileName(SharedLibraryFileName("FakeUnzDllOld", "fakeunzdllold"));
    try {
        zip.Extract();
        FAIL() << "no error";
    } catch (const ZipException& e) {
        EXPECT_STREQ(e.what(), "Error - invalid version of ZipDll.dll or UnzDll.dll");
    }
    EXPECT_FALSE(fs::exists(dir / "a.nds"));
    EXPECT_EQ(zip.FileSpecs().size(), 1u);

    // With the real library the same component goes on.
    zip.SetLibraryFileName(SharedLibraryFileName("UnzDll", "unzdll"));
    EXPECT_EQ(zip.Extract(), 1);
}

// Records what the dialog is told; Cancel can be clicked from ProcessMessages.
struct DialogLog {
    std::vector<std::string> calls;
    std::function<void()> cancel;
};

class RecordingDialog : public ProgressDialog {
  public:
    explicit RecordingDialog(DialogLog& log) : m_log(log) {}
    ~RecordingDialog() override { m_log.calls.push_back("destroy"); }
    void Show() override { m_log.calls.push_back("show"); }
    void Hide() override { m_log.calls.push_back("hide"); }
    void SetLabel(const std::string& text) override { m_log.calls.push_back("label " + text); }
    void SetBarMax(int maximum) override {
        m_log.calls.push_back("max " + std::to_string(maximum));
    }
    void SetBarPosition(int position) override {
        m_log.calls.push_back("position " + std::to_string(position));
    }

  private:
    DialogLog& m_log;
};

TEST_F(ZipExtract, DialogFollowsTheBatchAndGoesAway) {
    Archive(ZipBuilder()
                .Stored("a.nds", std::string(1024, 'a'))
                .Stored("b.nds", std::string(3072, 'b')));
    DialogLog dialog;
    zip.CreateProgressDialog = [&](std::function<void()> onCancel) {
        dialog.cancel = std::move(onCancel);
        return std::make_unique<RecordingDialog>(dialog);
    };
    zip.SetShowProgressDialog(true);
    zip.FileSpecs() = {"a.nds", "b.nds"};
    EXPECT_EQ(zip.Extract(), 2);
    const std::vector<std::string> expected = {
        "show",        "max 65535",      "label a.nds", "position 16383",
        "label b.nds", "position 65535", "hide",        "destroy",
    };
    EXPECT_EQ(dialog.calls, expected);
    EXPECT_EQ(breaths, 1 + 7);  // once before the library call, then after each callback
}

TEST_F(ZipExtract, DialogCancelStopsTheLibraryAtTheNextCallback) {
    const std::string big = Pattern(1 << 20);
    Archive(ZipBuilder().Stored("a.nds", big).Stored("b.nds", "b"));
    DialogLog dialog;
    zip.CreateProgressDialog = [&](std::function<void()> onCancel) {
        dialog.cancel = std::move(onCancel);
        return std::make_unique<RecordingDialog>(dialog);
    };
    zip.SetShowProgressDialog(true);
    int progress = 0;
    zip.ProcessMessages = [&] {
        if (progress == 1 && dialog.cancel) {
            dialog.cancel();  // the user clicks Cancel while the first member runs
        }
    };
    zip.OnProgress = [&](ZipComponent*, const std::string&, std::int32_t, std::int32_t) {
        ++progress;
    };
    zip.FileSpecs() = {"a.nds", "b.nds"};
    EXPECT_EQ(zip.Extract(), 0);
    EXPECT_TRUE(zip.Cancelled());
    EXPECT_EQ(progress, 1);
    EXPECT_FALSE(fs::exists(dir / "a.nds"));
    EXPECT_FALSE(fs::exists(dir / "b.nds"));
    EXPECT_EQ(dir.List(), std::vector<std::string>{"a.zip"});  // no partial file left
    EXPECT_EQ(dialog.calls.back(), "destroy");
    EXPECT_TRUE(zip.FileSpecs().empty());
}

TEST_F(ZipExtract, HandlerExceptionStopsTheRunAndReachesTheCaller) {
    Archive(ZipBuilder().Stored("a.nds", "a").Stored("b.nds", "b"));
    zip.OnBeginFile = [](ZipComponent*, const std::string& name, std::int32_t, std::int32_t,
                         std::int32_t) {
        if (name == "b.nds") {
            throw std::runtime_error("handler failed");
        }
    };
    zip.FileSpecs() = {"a.nds", "b.nds"};
    EXPECT_THROW(
        {
            try {
                zip.Extract();
            } catch (const std::runtime_error& e) {
                EXPECT_STREQ(e.what(), "handler failed");
                throw;
            }
        },
        std::runtime_error);
    EXPECT_TRUE(fs::exists(dir / "a.nds"));
    EXPECT_FALSE(fs::exists(dir / "b.nds"));
}

TEST(ZipRecords, CallbackIgnoresEverythingOnceCancelled) {
    test::RecordingPrompter prompter;
    ZipComponent zip(prompter);
    int begun = 0;
    int breaths = 0;
    zip.OnBeginFile = [&](ZipComponent*, const std::string&, std::int32_t, std::int32_t,
                          std::int32_t) { ++begun; };
    zip.ProcessMessages = [&] { ++breaths; };
    UnzipCallbackInfo info;
    info.Caller = &zip;
    info.ActionCode = UZ_CRC_ERROR;
    std::snprintf(info.Text, sizeof info.Text, "x.nds");
    prompter.messageAnswers = {DialogResult::Cancel};
    EXPECT_EQ(ZipComponent::UnzipCallback(&info), -1);
    EXPECT_EQ(prompter.asked.back().text,
              "\"x.nds\" may be corrupted (CRC error).\nExtract this file anyway? ...");
    EXPECT_EQ(prompter.asked.back().buttons, DialogButtons::YesNoCancel);
    EXPECT_EQ(prompter.asked.back().defaultButton, 1);
    info.ActionCode = UZ_BEGIN_FILE;
    EXPECT_EQ(ZipComponent::UnzipCallback(&info), -1);
    EXPECT_EQ(begun, 0);
    EXPECT_EQ(breaths, 2);

    // Overwrite: the answer's bit 0 (file on disk older) becomes the value.
    ZipComponent fresh(prompter);
    info.Caller = &fresh;
    info.ActionCode = UZ_OVERWRITE;
    info.Answer = 3;
    info.Value = 7;
    EXPECT_EQ(ZipComponent::UnzipCallback(&info), 0);
    EXPECT_EQ(info.Value, 1);
    info.Answer = 2;
    EXPECT_EQ(ZipComponent::UnzipCallback(&info), 0);
    EXPECT_EQ(info.Value, 0);
}

TEST(ZipRecords, PasswordAnswersFillTheRecord) {
    test::RecordingPrompter prompter;
    ZipComponent zip(prompter);
    UnzipCallbackInfo info;
    info.Caller = &zip;
    info.ActionCode = UZ_PASSWORD;
    info.Value = 3;
    std::snprintf(info.Text, sizeof info.Text, "s.nds");
    prompter.inputAnswers = {{true, std::string(600, 'p')}, {true, "second"}};
    EXPECT_EQ(ZipComponent::UnzipCallback(&info), 0);
    EXPECT_EQ(prompter.asked[0].text, "A new password is required for \"s.nds\"");
    EXPECT_TRUE(prompter.asked[0].masked);
    EXPECT_EQ(std::string(info.Text), std::string(511, 'p'));
    EXPECT_EQ(info.Answer, 1);
    EXPECT_EQ(info.Value, 2);
    EXPECT_EQ(ZipComponent::UnzipCallback(&info), 0);
    EXPECT_EQ(prompter.asked[1].text, "Password is invalid, please retry ...");
    EXPECT_EQ(std::string(info.Text), "second");
    EXPECT_EQ(info.Value, 1);

    // Nothing entered: the user is asked whether to go on; No cancels.
    info.Value = 1;
    info.Answer = 1;
    prompter.messageAnswers = {DialogResult::Yes, DialogResult::No};
    EXPECT_EQ(ZipComponent::UnzipCallback(&info), 0);
    EXPECT_EQ(prompter.asked.back().text,
              "No password was entered so the file will not be extracted...\nDo you wish to "
              "continue extracting other files?");
    EXPECT_EQ(prompter.asked.back().buttons, DialogButtons::YesNo);
    EXPECT_EQ(info.Answer, 0);
    EXPECT_EQ(info.Value, 0);
    EXPECT_FALSE(zip.Cancelled());
    EXPECT_EQ(ZipComponent::UnzipCallback(&info), -1);
    EXPECT_TRUE(zip.Cancelled());
}

}  // namespace
}  // namespace parevo
