// New files that take their name only once complete: no name at all while they
// are written where the system allows it, a hidden one elsewhere; put in place
// over the target, or discarded without a trace.
#include "platform/pending_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace parevo {
namespace {

using test::TempDir;

class PendingFileTest : public ::testing::TestWithParam<PendingNaming> {
  protected:
    void SetUp() override {
        folder = ::open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ASSERT_GE(folder, 0);
        test::WriteText(dir / "target", "old");
    }
    void TearDown() override { ::close(folder); }

    // What the folder shows while the file is written: the target, and the
    // hidden name where the file has one.
    std::vector<std::string> WhileWritten(const PendingFile& file) const {
        if (GetParam() == PendingNaming::Unnamed) {
            return {"target"};
        }
        return {file.HiddenName(), "target"};
    }

    TempDir dir;
    int folder = -1;
};

TEST_P(PendingFileTest, IsInvisibleOrHiddenUntilItReplacesItsTarget) {
    PendingFile file;
    ASSERT_TRUE(file.Create(folder, GetParam()));
    if (GetParam() == PendingNaming::Unnamed) {
        ASSERT_TRUE(file.HiddenName().empty()) << "no unnamed files in " << dir.Path();
    } else {
        EXPECT_EQ(file.HiddenName().rfind(".parevo-", 0), 0u) << file.HiddenName();
        EXPECT_EQ(file.HiddenName().substr(file.HiddenName().size() - 4), ".tmp");
    }
    ASSERT_EQ(::write(file.Descriptor(), "new", 3), 3);
    EXPECT_EQ(dir.List(), WhileWritten(file));
    EXPECT_EQ(test::ReadText(dir / "target"), "old");

    ASSERT_TRUE(file.Commit("target"));
    EXPECT_EQ(dir.List(), std::vector<std::string>{"target"});
    EXPECT_EQ(test::ReadText(dir / "target"), "new");
    // The mode any new file gets: 0666 less the umask.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat st {};
    ASSERT_EQ(::stat((dir / "target").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
}

TEST_P(PendingFileTest, ADiscardedFileLeavesNothing) {
    {
        PendingFile file;
        ASSERT_TRUE(file.Create(folder, GetParam()));
        ASSERT_EQ(::write(file.Descriptor(), "new", 3), 3);
    }  // discarded
    std::string hidden;
    const int fd = CreatePendingFile(folder, hidden, GetParam());
    ASSERT_GE(fd, 0);
    DiscardPendingFile(folder, fd, hidden);
    EXPECT_EQ(dir.List(), std::vector<std::string>{"target"});
    EXPECT_EQ(test::ReadText(dir / "target"), "old");
}

TEST_P(PendingFileTest, AFailedCommitLeavesNothing) {
    ::mkdir((dir / "sub").c_str(), 0755);
    ::close(::open((dir / "sub/x").c_str(), O_CREAT | O_WRONLY, 0644));
    PendingFile file;
    ASSERT_TRUE(file.Create(folder, GetParam()));
    // A folder that is not empty cannot be replaced by a file.
    EXPECT_FALSE(file.Commit("sub"));
    EXPECT_EQ(errno, EISDIR);
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"sub", "target"}));
}

INSTANTIATE_TEST_SUITE_P(Namings, PendingFileTest,
                         ::testing::Values(PendingNaming::Unnamed, PendingNaming::Hidden),
                         [](const auto& info) {
                             return info.param == PendingNaming::Unnamed ? "Unnamed" : "Hidden";
                         });

}  // namespace
}  // namespace parevo
